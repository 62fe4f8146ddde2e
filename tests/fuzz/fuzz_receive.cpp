// Feeds arbitrary reader bytes through frame reception and the transactions
// built on it, on a fake port with a virtual clock: no read may leave its
// buffers and no input may keep the link waiting.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FakeSerialServices.h"
#include "Zantor50.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t selector = data[0];
    // Bytes arrive spread out by the second input byte, up to 255 ms apart.
    const uint8_t spacing = data[1] & 0x3F;
    const Bytes incoming(data + 2, data + size);

    FakeSerialServices fake;
    fake.AddPort(1);
    Zantor50 link(fake);
    if (!link.SelectPort(1)) std::abort();
    fake.FeedPaced(1, incoming, fake.now, spacing);
    const uint64_t start = fake.now;

    try {
        switch (selector % 5) {
            case 0: {
                uint8_t destination[27];
                link.ReceiveFrame(0xCD, 1 + selector % 27, destination,
                                  (selector & 0x80) ? 500 : 0);
                break;
            }
            case 1:
                link.Identify();
                break;
            case 2: {
                std::array<uint8_t, 8> record{};
                link.ReadConfig(record);
                break;
            }
            case 3:
                link.WriteConfig({1, 2, 3, 4, 5, 6, 7, 8});
                break;
            case 4: {
                uint8_t buffer[256];
                while (link.PollBytes(buffer) != 0) {
                }
                break;
            }
        }
    } catch (const CommErr&) {
    }
    // Every exchange is bounded: three attempts of at most the receive limit
    // plus one frame's wait each, or one poll per byte that arrived.
    const uint64_t bound =
        3 * (Zantor50::kReceiveLimitMs + 1200) + incoming.size() * (spacing + 62) + 1000;
    if (fake.now - start > bound) std::abort();
    return 0;
}
