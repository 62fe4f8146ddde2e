#include "UpgradeTransfer.h"

#include "SerialServices.h"
#include "Zantor50.h"

namespace upgrade {

namespace {

// Extra reply allowances of the upgrade commands, in milliseconds.
constexpr uint32_t kBeginAllowanceMs = 500;
constexpr uint32_t kBlockAllowanceMs = 500;
constexpr uint32_t kSealAllowanceMs = 1000;
constexpr uint32_t kFinishAllowanceMs = 200;

// The closing phase: the bar runs from 60 to 100 while the reader restarts.
constexpr int kClosingSteps = 21;
constexpr int kClosingFirstPosition = 60;
constexpr int kClosingPositionStep = 2;
constexpr uint32_t kClosingStepMs = 100;

class HideOnExit {
public:
    explicit HideOnExit(Progress& progress) : progress(progress) {}
    ~HideOnExit() { progress.Hide(); }
    HideOnExit(const HideOnExit&) = delete;
    HideOnExit& operator=(const HideOnExit&) = delete;

private:
    Progress& progress;
};

}  // namespace

void Transfer(Zantor50& link, SerialServices& services, Image image, Progress& progress) {
    link.UpgradeBegin(Header(image), kBeginAllowanceMs);
    {
        const HideOnExit hide(progress);
        const uint16_t blocks = BlockCount(image);
        progress.Show(BlocksBarMaximum(blocks));
        for (uint16_t index = 0; index < blocks; ++index) {
            progress.SetPosition(index);
            link.UpgradeBlock(index, Block(image, index), kBlockAllowanceMs);
        }
        progress.SetPosition(blocks);
        link.UpgradeSeal(SerialRecord(image, link.serialNumber), kSealAllowanceMs);
        link.UpgradeFinish(kFinishAllowanceMs);

        progress.SetMaximum(100);
        for (int step = 0; step < kClosingSteps; ++step) {
            services.Sleep(kClosingStepMs);
            progress.SetPosition(kClosingFirstPosition + step * kClosingPositionStep);
        }
    }
}

}  // namespace upgrade
