#include "ConfigBinding.h"

#include <QCheckBox>
#include <string>

#include "RadioGroup.h"
#include "ui_MainWin.h"

namespace binding {

namespace {

uint8_t EditValue(const QLineEdit* edit) {
    return config::ParseClampedByte(edit->text().toStdString());
}

void BitsToBoxes(uint8_t bits, const BoxRow& boxes) {
    for (size_t i = 0; i < boxes.size(); ++i) boxes[i]->setChecked((bits >> i) & 1u);
}

}  // namespace

BoxRow BuzzerBoxes(const Ui::MainWin& ui) {
    return {ui.Buz0, ui.Buz1, ui.Buz2, ui.Buz3, ui.Buz4, ui.Buz5, ui.Buz6, ui.Buz7};
}

BoxRow LBuzzerBoxes(const Ui::MainWin& ui) {
    return {ui.LBuz0, ui.LBuz1, ui.LBuz2, ui.LBuz3, ui.LBuz4, ui.LBuz5, ui.LBuz6, ui.LBuz7};
}

uint8_t BoxesToBits(const BoxRow& boxes) {
    uint8_t bits = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (boxes[i]->isChecked()) bits |= static_cast<uint8_t>(1u << i);
    }
    return bits;
}

config::Settings ControlsToSettings(const Ui::MainWin& ui) {
    config::Settings settings;
    settings.page = ui.TrybPgCtrl->currentIndex();
    settings.binSignalling = ui.BinRGrp->ItemIndex();
    settings.format = ui.FormatRGrp->ItemIndex();
    settings.numberSize = ui.NrSizeRGrp->ItemIndex();
    settings.crLf = ui.CrLfChkBx->isChecked();
    settings.stxEtx = ui.StxEtxChkBx->isChecked();
    settings.wiegSize = ui.WiegSizeRGrp->ItemIndex();
    settings.wiegOrder = ui.WiegOrderRGrp->ItemIndex();
    settings.wiegBegBit = ui.WiegBegBitRGrp->ItemIndex();
    settings.wiegEndBit = ui.WiegEndBitRGrp->ItemIndex();
    settings.wiegNoParity = ui.WiegNoParBitChkBx->isChecked();
    settings.ledStable = ui.LedStabRGrp->ItemIndex();
    settings.ledReadSignalling = ui.LedChkBx->isChecked();
    settings.ledTime = EditValue(ui.LedTim);
    settings.buzzerActive = ui.BuzChkBx->isChecked();
    settings.buzzerPattern = BoxesToBits(BuzzerBoxes(ui));
    return settings;
}

void SettingsToControls(Ui::MainWin& ui, const config::Settings& settings) {
    ui.TrybPgCtrl->setCurrentIndex(settings.page);
    ui.LedChkBx->setChecked(settings.ledReadSignalling);
    ui.BuzChkBx->setChecked(settings.buzzerActive);
    ui.LedStabRGrp->SetItemIndex(settings.ledStable);
    ui.LedTim->setText(QString::number(settings.ledTime));
    BitsToBoxes(settings.buzzerPattern, BuzzerBoxes(ui));
    ui.BinRGrp->SetItemIndex(settings.binSignalling);
    ui.FormatRGrp->SetItemIndex(settings.format);
    ui.CrLfChkBx->setChecked(settings.crLf);
    ui.StxEtxChkBx->setChecked(settings.stxEtx);
    ui.NrSizeRGrp->SetItemIndex(settings.numberSize);
    ui.WiegSizeRGrp->SetItemIndex(settings.wiegSize);
    ui.WiegOrderRGrp->SetItemIndex(settings.wiegOrder);
    ui.WiegBegBitRGrp->SetItemIndex(settings.wiegBegBit);
    ui.WiegEndBitRGrp->SetItemIndex(settings.wiegEndBit);
    ui.WiegNoParBitChkBx->setChecked(settings.wiegNoParity);
}

}  // namespace binding
