#include <QCheckBox>
#include <string>

#include "MainWin.h"
#include "RadioGroup.h"
#include "ui_MainWin.h"

namespace {

uint8_t EditValue(const QLineEdit* edit) {
    return config::ParseClampedByte(edit->text().toStdString());
}

}  // namespace

uint8_t TMainWin::BoxesToBits(const BoxRow& boxes) {
    uint8_t bits = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (boxes[i]->isChecked()) bits |= static_cast<uint8_t>(1u << i);
    }
    return bits;
}

void TMainWin::BitsToBoxes(uint8_t bits, const BoxRow& boxes) {
    for (size_t i = 0; i < boxes.size(); ++i) boxes[i]->setChecked((bits >> i) & 1u);
}

config::Settings TMainWin::ControlsToSettings() const {
    config::Settings settings;
    settings.page = ui->TrybPgCtrl->currentIndex();
    settings.binSignalling = ui->BinRGrp->ItemIndex();
    settings.format = ui->FormatRGrp->ItemIndex();
    settings.numberSize = ui->NrSizeRGrp->ItemIndex();
    settings.crLf = ui->CrLfChkBx->isChecked();
    settings.stxEtx = ui->StxEtxChkBx->isChecked();
    settings.wiegSize = ui->WiegSizeRGrp->ItemIndex();
    settings.wiegOrder = ui->WiegOrderRGrp->ItemIndex();
    settings.wiegBegBit = ui->WiegBegBitRGrp->ItemIndex();
    settings.wiegEndBit = ui->WiegEndBitRGrp->ItemIndex();
    settings.wiegNoParity = ui->WiegNoParBitChkBx->isChecked();
    settings.ledStable = ui->LedStabRGrp->ItemIndex();
    settings.ledReadSignalling = ui->LedChkBx->isChecked();
    settings.ledTime = EditValue(ui->LedTim);
    settings.buzzerActive = ui->BuzChkBx->isChecked();
    settings.buzzerPattern = BoxesToBits(buz);
    return settings;
}

void TMainWin::SettingsToControls(const config::Settings& settings) {
    ui->TrybPgCtrl->setCurrentIndex(settings.page);
    ui->LedChkBx->setChecked(settings.ledReadSignalling);
    ui->BuzChkBx->setChecked(settings.buzzerActive);
    ui->LedStabRGrp->SetItemIndex(settings.ledStable);
    ui->LedTim->setText(QString::number(settings.ledTime));
    BitsToBoxes(settings.buzzerPattern, buz);
    ui->BinRGrp->SetItemIndex(settings.binSignalling);
    ui->FormatRGrp->SetItemIndex(settings.format);
    ui->CrLfChkBx->setChecked(settings.crLf);
    ui->StxEtxChkBx->setChecked(settings.stxEtx);
    ui->NrSizeRGrp->SetItemIndex(settings.numberSize);
    ui->WiegSizeRGrp->SetItemIndex(settings.wiegSize);
    ui->WiegOrderRGrp->SetItemIndex(settings.wiegOrder);
    ui->WiegBegBitRGrp->SetItemIndex(settings.wiegBegBit);
    ui->WiegEndBitRGrp->SetItemIndex(settings.wiegEndBit);
    ui->WiegNoParBitChkBx->setChecked(settings.wiegNoParity);
}

void TMainWin::ConfigToControls() {
    ui->TrybPgCtrl->setTabVisible(config::kWiegandPage, false);
    if (config::HasInvalidMode(record)) ShowCommError(true);
    // The record changes only what its mode shows; the rest keeps the controls' values.
    config::Settings settings = ControlsToSettings();
    config::RecordToSettings(record, settings);
    SettingsToControls(settings);
}

void TMainWin::ControlsToConfig() {
    const config::Settings settings = ControlsToSettings();
    record = config::SettingsToRecord(settings);
    ui->LedTim->setText(QString::number(settings.ledTime));
}
