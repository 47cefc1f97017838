// The about box and the two stick error boxes: one dialog frame, built anew
// for each call, run modally under the mouse cursor, destroyed on return.
#include <initializer_list>

#include "app/VerdanoxWindow.h"
#include "link/link.h"

namespace vdx {
namespace {

// The maker's web address, where a stick can be had.
const char kStickSource[] = "www.verdanox.example/rf-stick";

// A body line of a box; nullptr stands for a separator.
using BodyLines = std::initializer_list<const char*>;

// Options 0x00020400, as the boxes have always been built: in FOX 1.6 that
// is a plain line (SEPARATOR_LINE), not the etched groove the toolkit draws
// by default.
void separator(FXComposite* parent) {
    static_assert((SEPARATOR_LINE | LAYOUT_FILL_X) == 0x00020400, "separator options");
    new FXHorizontalSeparator(parent, SEPARATOR_LINE | LAYOUT_FILL_X, 0, 0, 0, 0, 1, 1, 0, 0);
}

void runBox(FXWindow* owner, FXIcon* picture, const FXString& title, const FXString& heading, BodyLines body) {
    FXDialogBox box(owner, title, DECOR_TITLE | DECOR_BORDER, 0, 0, 0, 0, 10, 10, 0, 0, 0, 0);
    new FXLabel(&box, FXString::null, picture, FRAME_GROOVE | LAYOUT_SIDE_LEFT | LAYOUT_CENTER_Y, 0, 0, 0, 0, 2, 2, 2,
                2);
    FXVerticalFrame* column =
        new FXVerticalFrame(&box, LAYOUT_SIDE_RIGHT | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 10, 10, 10, 10, 0, 0);
    new FXLabel(column, heading, nullptr, JUSTIFY_LEFT | ICON_BEFORE_TEXT | LAYOUT_FILL_X, 0, 0, 0, 0, 2, 2, 2, 2);
    separator(column);
    for (const char* line : body) {
        if (line == nullptr)
            separator(column);
        else
            new FXLabel(column, line, nullptr, JUSTIFY_LEFT | LAYOUT_FILL_X | LAYOUT_FILL_Y, 0, 0, 0, 0, 2, 2, 2, 2);
    }
    FXButton* ok = new FXButton(column, "&OK", nullptr, &box, FXDialogBox::ID_ACCEPT,
                                BUTTON_INITIAL | BUTTON_DEFAULT | FRAME_RAISED | FRAME_THICK | LAYOUT_CENTER_X, 0, 0, 0,
                                0, 32, 32, 2, 2);
    ok->setFocus();
    box.execute(PLACEMENT_CURSOR);
}

}  // namespace

long VerdanoxWindow::onCmdAbout(FXObject*, FXSelector, void*) {
    const FXString id = FXStringFormat("USB stick ID: %s", getStickId());
    const FXString type = FXStringFormat("USB stick type: %s", getStickType());
    runBox(this, bigIcon, "About Verdanox", "Verdanox 1.0",
           {id.text(), type.text(), nullptr, "\nVerdanox is a tool used to\nsimulate 10 gas meters communicating.\n"});
    return 1;
}

void VerdanoxWindow::showStickNotFound() {
    const FXString text = FXString("\nA USB RF stick is needed to operate.\n\nVisit ") + kStickSource +
                          "\n\nFor more information about obtaining a USB RF stick.";
    runBox(this, bigIcon, "USB RF stick not found!", "USB RF stick not found!", {text.text()});
}

void VerdanoxWindow::showStickOpenFailed() {
    runBox(this, bigIcon, "Unable to Open USB RF stick.", "No communication with the USB RF stick!",
           {"\nIf you have connected a USB RF stick to the PC then\ntry unplugging and replugging the USB RF stick and "
            "rerun this application."});
}

}  // namespace vdx
