// The program's one top-level window: menus, the ten meter rows with their
// telegram counts, Start and Stop, the status bar, and the two timers that
// drive the receive poll and the send cycle.
#pragma once

#include <fx.h>

#include "link/platform.h"
#include "session/send_loop.h"

namespace vdx {

// The status line's text while telegrams cannot be sent, and while the
// configuration could not be read; both fit the window's width.
extern const char kStickTroubleStatus[];
extern const char kNoConfigurationStatus[];

class VerdanoxWindow : public FXMainWindow {
    FXDECLARE(VerdanoxWindow)

protected:
    FXStatusBar* statusBar = nullptr;
    FXStatusLine* statusLine = nullptr;
    FXMenuPane* fileMenu = nullptr;
    FXMenuPane* helpMenu = nullptr;
    FXMenuPane* settingsMenu = nullptr;
    FXGIFIcon* bigIcon = nullptr;
    FXGIFIcon* miniIcon = nullptr;
    FXHorizontalFrame* contents = nullptr;
    FXVerticalFrame* panel = nullptr;
    FXMenuRadio* oms4Item = nullptr;
    FXMenuCheck* encryptionItem = nullptr;
    FXTextField* meterFields[10] = {};
    FXTextField* countFields[10] = {};
    FXuchar encryptionOn = 0;
    LinkHandle watchedHandle = kNoHandle;  // the link descriptor the toolkit watches
    SendLoop loop;                         // the send ticks, the drain, a lost stick
    bool configurationMissing = false;

    // For the toolkit's class factory only.
    VerdanoxWindow() {}

public:
    enum {
        ID_ABOUT = FXMainWindow::ID_LAST,
        ID_START,
        ID_STOP,
        ID_RESERVED_63,
        ID_RESERVED_64,
        ID_OMS4,
        ID_ENCRYPTION,
        ID_RECEIVE_POLL,
        ID_SEND_TIMER,
        ID_STATUS,
        ID_LAST
    };

    explicit VerdanoxWindow(FXApp* app);
    virtual ~VerdanoxWindow();
    virtual void create();

    long onCmdAbout(FXObject*, FXSelector, void*);
    long onCmdStart(FXObject*, FXSelector, void*);
    long onCmdStop(FXObject*, FXSelector, void*);
    long onCmdOMS4(FXObject*, FXSelector, void*);
    long onCmdEncryption(FXObject*, FXSelector, void*);
    long onReceivePoll(FXObject*, FXSelector, void*);
    long onSendTimer(FXObject*, FXSelector, void*);
    long onCmdReserved(FXObject*, FXSelector, void*);
    long onUpdStatus(FXObject*, FXSelector, void*);

    // The configuration could not be read: the status line says so while
    // the stick is fine.
    void setConfigurationMissing(bool missing) { configurationMissing = missing; }

    // The two error boxes of start-up; each returns when it is closed.
    void showStickNotFound();
    void showStickOpenFailed();

    // Read-only views for tests.
    FXString meterText(int meter) const { return meterFields[meter]->getText(); }
    FXString countText(int meter) const { return countFields[meter]->getText(); }
    bool encryptionEnabled() const { return encryptionOn != 0; }
    // What the status line shows after the toolkit's next update pass.
    FXString statusText() {
        statusLine->handle(this, FXSEL(SEL_UPDATE, 0), nullptr);
        return statusLine->getNormalText();
    }
    bool stickLost() const { return loop.lost(); }

private:
    void showCount(int meter, const char* text);
    // Arranges the next run of the receive poll: a watch on the link's
    // descriptor where it has one, else the 1 ms timer.
    void armReceivePoll();
    void stopWatching();
};

}  // namespace vdx
