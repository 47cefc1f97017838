#include "app/VerdanoxWindow.h"

#include <cstdio>
#include <string>
#include <type_traits>

#include "app/images.h"
#include "config/config.h"
#include "link/link.h"
#include "session/configuration.h"
#include "session/startup.h"
#include "telegram/send_cycle.h"

namespace vdx {

const char kStickTroubleStatus[] = "USB RF stick not responding: not sending";
const char kNoConfigurationStatus[] = "No VDXconfig.txt: all meters are zero";

static_assert(FXMainWindow::ID_LAST == 60, "message identifiers are numbered from 60");
static_assert(VerdanoxWindow::ID_RECEIVE_POLL == 67 && VerdanoxWindow::ID_SEND_TIMER == 68, "timer identifiers");

namespace {
constexpr FXuint kReceivePollMs = SendLoop::kReceivePollMs;
constexpr FXuint kFirstReceivePollMs = 1000;
constexpr FXuint kSendPeriodMs = 5000;

// The toolkit's input handle: a descriptor on Unix, a HANDLE on Windows.
template <typename H = FXInputHandle>
H inputHandle(LinkHandle h) {
    if constexpr (std::is_pointer_v<H>)
        return reinterpret_cast<H>(h);
    else
        return static_cast<H>(h);
}
}  // namespace

// clang-format off
FXDEFMAP(VerdanoxWindow) VerdanoxWindowMap[] = {
    FXMAPFUNC(SEL_COMMAND, VerdanoxWindow::ID_ABOUT, VerdanoxWindow::onCmdAbout),
    FXMAPFUNC(SEL_COMMAND, VerdanoxWindow::ID_START, VerdanoxWindow::onCmdStart),
    FXMAPFUNC(SEL_COMMAND, VerdanoxWindow::ID_STOP, VerdanoxWindow::onCmdStop),
    FXMAPFUNC(SEL_COMMAND, VerdanoxWindow::ID_OMS4, VerdanoxWindow::onCmdOMS4),
    FXMAPFUNC(SEL_COMMAND, VerdanoxWindow::ID_ENCRYPTION, VerdanoxWindow::onCmdEncryption),
    FXMAPFUNC(SEL_TIMEOUT, VerdanoxWindow::ID_RECEIVE_POLL, VerdanoxWindow::onReceivePoll),
    // where the link offers a descriptor, the poll runs when it has input
    FXMAPFUNC(SEL_IO_READ, VerdanoxWindow::ID_RECEIVE_POLL, VerdanoxWindow::onReceivePoll),
    FXMAPFUNC(SEL_TIMEOUT, VerdanoxWindow::ID_SEND_TIMER, VerdanoxWindow::onSendTimer),
    FXMAPFUNC(SEL_UPDATE, VerdanoxWindow::ID_STATUS, VerdanoxWindow::onUpdStatus),
    // no widget sends these two; they are handled as nothing
    FXMAPFUNC(SEL_COMMAND, VerdanoxWindow::ID_RESERVED_63, VerdanoxWindow::onCmdReserved),
    FXMAPFUNC(SEL_COMMAND, VerdanoxWindow::ID_RESERVED_64, VerdanoxWindow::onCmdReserved),
};
// clang-format on

FXIMPLEMENT(VerdanoxWindow, FXMainWindow, VerdanoxWindowMap, ARRAYNUMBER(VerdanoxWindowMap))

VerdanoxWindow::VerdanoxWindow(FXApp* app)
    : FXMainWindow(app, "Verdanox 1.0", nullptr, nullptr, DECOR_ALL, 0, 0, 320, 480, 0, 0, 0, 0, 0, 0) {
    // images: the logo is drawn opaque
    bigIcon = new FXGIFIcon(app, logoImage);
    miniIcon = new FXGIFIcon(app, miniImage);
    bigIcon->setOptions(bigIcon->getOptions() | IMAGE_OPAQUE);
    setIcon(bigIcon);
    setMiniIcon(miniIcon);

    FXMenuBar* menuBar = new FXMenuBar(this, LAYOUT_FILL_X, 0, 0, 0, 0, 3, 3, 2, 2, 4, 4);
    statusBar = new FXStatusBar(this, LAYOUT_SIDE_BOTTOM | LAYOUT_FILL_X | STATUSBAR_WITH_DRAGCORNER, 0, 0, 0, 0, 3, 3,
                                2, 2, 4, 0);
    statusLine = statusBar->getStatusLine();
    statusLine->setTarget(this);
    statusLine->setSelector(ID_STATUS);
    contents =
        new FXHorizontalFrame(this, LAYOUT_FILL_X | LAYOUT_FILL_Y | PACK_UNIFORM_WIDTH, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
    panel = new FXVerticalFrame(contents, FRAME_RAISED | FRAME_THICK | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 4, 4,
                                4, 4, 4, 4);
    FXVerticalFrame* inner = new FXVerticalFrame(panel, LAYOUT_FILL_X, 0, 0, 0, 0, 4, 4, 4, 4, 4, 4);
    FXMatrix* matrix = new FXMatrix(inner, 2, MATRIX_BY_COLUMNS, 0, 0, 0, 0, 10, 10, 10, 10, 4, 4);

    new FXLabel(matrix, "meter #: ", nullptr, 0, 0, 0, 0, 0, 2, 2, 2, 2);
    new FXLabel(matrix, "number of SND_NR", nullptr, 0, 0, 0, 0, 0, 2, 2, 2, 2);
    const FXuint fieldOptions = TEXTFIELD_LIMITED | FRAME_SUNKEN | FRAME_THICK;
    loadMeterAddresses();
    for (int i = 0; i < kMeterCount; ++i) {
        meterFields[i] = new FXTextField(matrix, 16, nullptr, 0, fieldOptions, 0, 0, 0, 0, 2, 2, 2, 2);
        meterFields[i]->setText(configLines[i], FALSE);
        meterFields[i]->setEditable(FALSE);
        countFields[i] = new FXTextField(matrix, 10, nullptr, 0, fieldOptions, 0, 0, 0, 0, 2, 2, 2, 2);
        countFields[i]->setText("0", FALSE);
        countFields[i]->setEditable(FALSE);
    }
    new FXButton(matrix, "Start sending", nullptr, this, ID_START, FRAME_RAISED | FRAME_THICK, 0, 0, 0, 0, 2, 2, 2, 2);
    new FXButton(matrix, "Stop sending", nullptr, this, ID_STOP, FRAME_RAISED | FRAME_THICK, 0, 0, 0, 0, 2, 2, 2, 2);

    fileMenu = new FXMenuPane(this);
    new FXMenuCommand(fileMenu, "&quit\tctrl-q", nullptr, app, FXApp::ID_QUIT);
    new FXMenuTitle(menuBar, "&File", nullptr, fileMenu, 0);

    helpMenu = new FXMenuPane(this);
    new FXMenuCommand(helpMenu, "&about\tctrl-a", nullptr, this, ID_ABOUT);
    new FXMenuTitle(menuBar, "&Help", nullptr, helpMenu, LAYOUT_RIGHT);

    settingsMenu = new FXMenuPane(this);
    oms4Item = new FXMenuRadio(settingsMenu, "OMS4", this, ID_OMS4);
    oms4Item->setCheck(TRUE);
    new FXMenuSeparator(settingsMenu);
    encryptionItem = new FXMenuCheck(settingsMenu, "Encryption on", this, ID_ENCRYPTION);
    encryptionItem->setCheck(TRUE);
    new FXMenuTitle(menuBar, "&Settings", nullptr, settingsMenu, 0);

    new FXToolTip(app);

    encryptionOn = 1;
    sendingEnabled = false;
    currentMeter = 0;
    // a stick that stops taking telegrams: stderr gets one line when that
    // starts and one when it ends (the status line follows by itself)
    loop.beforeClose = [this] {
        stopWatching();
        getApp()->addTimeout(this, ID_RECEIVE_POLL, kReceivePollMs);
    };
    loop.troubleStarted = loop.troubleEnded = [](const std::string& line) { tell("verdanox", line); };
    app->addTimeout(this, ID_RECEIVE_POLL, kFirstReceivePollMs);
    app->addTimeout(this, ID_SEND_TIMER, kSendPeriodMs);
    handle(this, FXSEL(SEL_UPDATE, ID_STATUS), nullptr);
}

VerdanoxWindow::~VerdanoxWindow() {
    // a window closed while the loop still runs must not be called back, and
    // the toolkit must not watch a descriptor that closeStick closes
    stopWatching();
    getApp()->removeTimeout(this, ID_RECEIVE_POLL);
    getApp()->removeTimeout(this, ID_SEND_TIMER);
    delete bigIcon;
    delete miniIcon;
    delete fileMenu;
    delete helpMenu;
    delete settingsMenu;
    closeStick();
}

void VerdanoxWindow::create() {
    FXMainWindow::create();
    show(PLACEMENT_SCREEN);
}

void VerdanoxWindow::showCount(int meter, const char* text) { countFields[meter]->setText(text, FALSE); }

long VerdanoxWindow::onCmdStart(FXObject*, FXSelector, void*) {
    startSending([this](int meter, const char* text) { showCount(meter, text); });
    return 1;
}

long VerdanoxWindow::onCmdStop(FXObject*, FXSelector, void*) {
    stopSending();
    return 1;
}

long VerdanoxWindow::onCmdOMS4(FXObject*, FXSelector, void*) {
    oms4Item->setCheck(TRUE);
    return 1;
}

// The status line follows the program's state: stick trouble first, then a
// configuration that could not be read, else the profile.
long VerdanoxWindow::onUpdStatus(FXObject*, FXSelector, void*) {
    statusLine->setNormalText(loop.lost()            ? kStickTroubleStatus
                              : configurationMissing ? kNoConfigurationStatus
                                                     : "OMS4");
    return 1;
}

// The toolkit has already flipped the check mark.
long VerdanoxWindow::onCmdEncryption(FXObject*, FXSelector, void*) {
    encryptionOn ^= 1;
    return 1;
}

long VerdanoxWindow::onCmdReserved(FXObject*, FXSelector, void*) { return 1; }

// One frame per run. Where the link has a descriptor (Linux), the toolkit
// runs the poll when input is queued and the window never wakes up for
// nothing; a descriptor stays readable while more frames are queued, so a
// burst drains on consecutive runs. Elsewhere the poll re-arms its 1 ms timer.
long VerdanoxWindow::onReceivePoll(FXObject*, FXSelector, void*) {
    // a device that went away stays readable for ever: the keeper stops the
    // watch, closes the link and lets the timer take over until a send tick
    // opens the stick again
    loop.receive();
    armReceivePoll();
    return 1;
}

void VerdanoxWindow::armReceivePoll() {
    const LinkHandle handle = loop.watchHandle();
    if (handle == kNoHandle) {
        stopWatching();
        getApp()->addTimeout(this, ID_RECEIVE_POLL, kReceivePollMs);
        return;
    }
    if (watchedHandle == handle) return;
    stopWatching();
    getApp()->addInput(inputHandle(handle), INPUT_READ, this, ID_RECEIVE_POLL);
    watchedHandle = handle;
}

void VerdanoxWindow::stopWatching() {
    if (watchedHandle == kNoHandle) return;
    getApp()->removeInput(inputHandle(watchedHandle), INPUT_READ);
    watchedHandle = kNoHandle;
}

long VerdanoxWindow::onSendTimer(FXObject*, FXSelector, void*) {
    loop.tick(encryptionOn != 0, [this](int meter, const char* text) { showCount(meter, text); });
    armReceivePoll();  // a stick opened again is watched at once
    getApp()->addTimeout(this, ID_SEND_TIMER, kSendPeriodMs);
    return 1;
}

}  // namespace vdx
