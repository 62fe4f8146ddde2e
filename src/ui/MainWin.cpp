#include "MainWin.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <initializer_list>
#include <memory>
#include <utility>

#include "BusyDisplay.h"
#include "BusyScope.h"
#include "CommErr.h"
#include "ConfigBinding.h"
#include "Dialogs.h"
#include "RadioGroup.h"
#include "ui_MainWin.h"

namespace {

constexpr int kProgressStep = 5;
constexpr uint32_t kProgressStepMs = 5;
constexpr uint32_t kProgressEndMs = 50;

void SetEnabled(std::initializer_list<QWidget*> controls, bool enabled) {
    for (QWidget* control : controls) control->setEnabled(enabled);
}

// Qt still lets the wheel and the arrow keys over the tabs, and Ctrl+Tab from a
// page, select a page whose tab is hidden. Such a selection is taken back at
// once, so only a page with a visible tab ever stays current, whoever asks.
void KeepToVisibleTabs(QTabWidget* pages) {
    auto shown = std::make_shared<int>(pages->currentIndex());
    QObject::connect(pages, &QTabWidget::currentChanged, pages, [pages, shown](int index) {
        if (index >= 0 && !pages->isTabVisible(index)) {
            pages->setCurrentIndex(*shown);
        } else {
            *shown = index;
        }
    });
}

// Names for assistive technology where a control has no caption of its own or
// its caption alone does not say what it is. Nothing visible changes.
void NameBuzzerRow(const binding::BoxRow& boxes, const QString& row) {
    for (size_t i = 0; i < boxes.size(); ++i) {
        const int from = static_cast<int>(i) * 60;
        boxes[i]->setAccessibleName(TMainWin::tr("%1: kratka %2 z 8 (%3-%4 ms)")
                                        .arg(row)
                                        .arg(i + 1)
                                        .arg(from)
                                        .arg(from + 60));
    }
}

}  // namespace

TMainWin::TMainWin(SerialServices& services, Dialogs& dialogs, QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::MainWin>()),
      services(services),
      dialogs(dialogs),
      session(services, session::FindAgain::Search),
      imageSource(upgrade::BuiltInImageFor) {
    ui->setupUi(this);
    for (RadioGroup* group : findChildren<RadioGroup*>()) group->Bind();
    setWindowTitle(QStringLiteral("Zantor_Cfg 2.6 (ZANTOR-40, ZANTOR-41, ZANTOR-50, ZANTOR-51)"));
    ui->TrybPgCtrl->setTabVisible(config::kWiegandPage, false);
    KeepToVisibleTabs(ui->TrybPgCtrl);
    NameControls();
    // The animated bars appear under their buttons without shifting the groups.
    for (QProgressBar* bar : {ui->RdProgrBar, ui->WrProgrBar}) {
        QSizePolicy policy = bar->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        bar->setSizePolicy(policy);
    }
    ConnectHandlers();
    // A scan over many ports keeps the window drawn.
    session.BetweenPorts(busydisplay::Serve);
    test = std::make_unique<TestPage>(*ui, session, busy, [this] { return CheckReader(); });

    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TMainWin::~TMainWin() = default;

void TMainWin::ConnectHandlers() {
    connect(ui->RdBtn, &QPushButton::clicked, this, &TMainWin::RdBtnClick);
    connect(ui->WrBtn, &QPushButton::clicked, this, &TMainWin::WrBtnClick);
    // toggled, not clicked: the enabling rules must also follow the changes that
    // ConfigToControls makes.
    connect(ui->WiegNoParBitChkBx, &QCheckBox::toggled, this, &TMainWin::WiegNoParBitChkBxClick);
    connect(ui->LedChkBx, &QCheckBox::toggled, this, &TMainWin::LedChkBxClick);
    connect(ui->BuzChkBx, &QCheckBox::toggled, this, &TMainWin::BuzChkBxClick);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            &TMainWin::ApplicationStateChanged);
}

void TMainWin::NameControls() {
    NameBuzzerRow(binding::BuzzerBoxes(*ui), tr("Sygnał buzzera"));
    NameBuzzerRow(binding::LBuzzerBoxes(*ui), tr("Rozkaz L, sygnał buzzera"));
    ui->LedTim->setAccessibleName(tr("Czas sygnalizacji odczytu (x 0.1s)"));
    ui->LLedTim->setAccessibleName(tr("Rozkaz L, czas sygnalizacji LEDów (x 0.1s, 0 - na stałe)"));
    ui->RozkLEdt->setAccessibleName(tr("Treść rozkazu L"));
    ui->RapWin->setAccessibleName(tr("Odebrane i wysłane transmisje"));
    ui->RdProgrBar->setAccessibleName(tr("Postęp odczytu konfiguracji"));
    ui->WrProgrBar->setAccessibleName(tr("Postęp zapisu konfiguracji"));
}

void TMainWin::SetWorkWin(TWorkWin& window) { workWin = &window; }

void TMainWin::SetImageSource(ImageSource source) { imageSource = std::move(source); }

TestPage& TMainWin::Test() { return *test; }

// Activation. The reader check runs at the first showing of the window and
// whenever the program becomes the active application again after another
// application was active (QGuiApplication::applicationStateChanged), never on
// QEvent::WindowActivate: focus passing back from one of the program's own
// dialogs or from the progress window changes no application state, so closing a
// message starts nothing. A return that is reported while a check, read, write or
// upgrade is still in progress (from inside its dialog) is dropped by the busy
// guard of FormActivate rather than run later.
void TMainWin::ApplicationStateChanged(Qt::ApplicationState state) {
    if (state != Qt::ApplicationActive) {
        awayFromProgram = true;
        return;
    }
    const bool returned = std::exchange(awayFromProgram, false);
    if (isVisible() && (returned || !activatedOnce)) FormActivate();
}

void TMainWin::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (std::exchange(shownOnce, true)) return;
    // Without a window manager the program may never be reported active; the
    // first showing is the first activation all the same. Queued, so that the
    // window is painted before the search blocks the GUI thread.
    QTimer::singleShot(0, this, [this] {
        if (!activatedOnce) FormActivate();
    });
}

void TMainWin::closeEvent(QCloseEvent* event) {
    session.Close();
    QMainWindow::closeEvent(event);
}

bool TMainWin::CheckReader() {
    try {
        if (session.Connect(0)) {
            ShowReaderState(true);
            // After an upgrade the label shows the re-identified firmware version.
            if (OfferUpgrade()) ShowReaderState(true);
            return true;
        }
    } catch (const CommErr&) {
        session.Close();
    }
    ShowReaderState(false);
    return false;
}

void TMainWin::ShowReaderState(bool connected) {
    const protocol::Identity reader = session.Reader();
    ui->RdLbl->setText(
        connected ? QString::asprintf(qUtf8Printable(tr("Czytnik Zantor-%d, Nr: %05d (soft: %d)")),
                                      session.Model(), int{reader.serialNumber},
                                      int{reader.firmwareVersion})
                  : tr("Nie podłączony żaden czytnik."));
    SetEnabled({ui->BinRGrp, ui->FormatRGrp, ui->NrSizeRGrp, ui->CrLfChkBx, ui->StxEtxChkBx,
                ui->WiegSizeRGrp, ui->WiegOrderRGrp, ui->WiegNoParBitChkBx},
               connected);
    EnableParityGroups(connected && !ui->WiegNoParBitChkBx->isChecked());
    // The time edit and the buzzer boxes follow the reader alone; their labels keep
    // the state that the two check boxes gave them.
    SetEnabled(
        {ui->LedStabRGrp, ui->LedChkBx, ui->LedTim, ui->BuzChkBx, ui->Buz0, ui->Buz1, ui->Buz2,
         ui->Buz3, ui->Buz4, ui->Buz5, ui->Buz6, ui->Buz7, ui->WrBtn, ui->RozkMBtn, ui->RozkTBtn},
        connected);
}

void TMainWin::EnableParityGroups(bool enabled) {
    SetEnabled({ui->WiegBegBitRGrp, ui->WiegEndBitRGrp}, enabled);
}

void TMainWin::WiegNoParBitChkBxClick() { EnableParityGroups(!ui->WiegNoParBitChkBx->isChecked()); }

void TMainWin::LedChkBxClick() {
    SetEnabled({ui->LedTimLbl, ui->LedTim, ui->LedSLbl}, ui->LedChkBx->isChecked());
}

void TMainWin::BuzChkBxClick() {
    SetEnabled({ui->BuzSygnLbl, ui->Buz0, ui->Buz1, ui->Buz2, ui->Buz3, ui->Buz4, ui->Buz5,
                ui->Buz6, ui->Buz7},
               ui->BuzChkBx->isChecked());
}

void TMainWin::ShowCommError(bool invalidConfig) {
    dialogs.ShowMessage(invalidConfig ? tr("Czytnik zawiera nieprawidłową konfigurację.")
                                      : tr("Błąd komunikacji."));
}

// A cosmetic animation under the button; the GUI thread stays busy, so each
// position is drawn at once and the display is served. The pauses run to points fixed from the
// start, so that drawing the bar (about a millisecond a step) does not stretch the 155 ms by which
// the animation delays the command that follows.
void TMainWin::AnimateProgress(QProgressBar* bar) {
    uint64_t due = services.NowMs();
    const auto sleepUntilDue = [this, &due](uint32_t pauseMs) {
        due += pauseMs;
        const uint64_t now = services.NowMs();
        if (now < due) services.Sleep(static_cast<uint32_t>(due - now));
    };
    bar->setVisible(true);
    for (int position = 0; position <= 100; position += kProgressStep) {
        bar->setValue(position);
        bar->repaint();
        busydisplay::Serve();
        sleepUntilDue(kProgressStepMs);
    }
    sleepUntilDue(kProgressEndMs);
    bar->setVisible(false);
}

void TMainWin::LoadConfig() {
    record = session.Read();
    ConfigToControls();
}

void TMainWin::ConfigToControls() {
    ui->TrybPgCtrl->setTabVisible(config::kWiegandPage, false);
    if (config::HasInvalidMode(record)) ShowCommError(true);
    // The record changes only what its mode shows; the rest keeps the controls' values.
    config::Settings settings = binding::ControlsToSettings(*ui);
    config::RecordToSettings(record, settings);
    binding::SettingsToControls(*ui, settings);
}

void TMainWin::ControlsToConfig() {
    const config::Settings settings = binding::ControlsToSettings(*ui);
    record = config::SettingsToRecord(settings);
    ui->LedTim->setText(QString::number(settings.ledTime));
}

void TMainWin::FormActivate() {
    const BusyScope scope(busy);
    if (!scope.Entered()) return;
    activatedOnce = true;
    try {
        if (CheckReader()) LoadConfig();
    } catch (const CommErr&) {
        ShowCommError(false);
    }
}

void TMainWin::RdBtnClick() {
    const BusyScope scope(busy);
    if (!scope.Entered()) return;
    try {
        if (!CheckReader()) return;
        AnimateProgress(ui->RdProgrBar);
        LoadConfig();
    } catch (const CommErr&) {
        ShowCommError(false);
    }
}

void TMainWin::WrBtnClick() {
    const BusyScope scope(busy);
    if (!scope.Entered()) return;
    // The record is taken from the controls before the search, whatever it finds.
    ControlsToConfig();
    try {
        if (!CheckReader()) return;
        AnimateProgress(ui->WrProgrBar);
        session.Write(record);
    } catch (const CommErr&) {
        ShowCommError(false);
    }
}
