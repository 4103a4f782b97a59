// Small things every dialog needs.
#pragma once

#include <QDialog>
#include <QWidget>

// A dialog that a menu command opens. Its FormShow step runs once, when the
// command shows it: restoring a minimised window shows the dialog again,
// and that must neither revert what the operator typed nor move the dialog
// back to the centre. No button answers Enter, so Enter never starts a
// write; Space on a focused button still presses it.
class TFormDialog : public QDialog {
    Q_OBJECT
  public:
    virtual void FormShow() = 0;

    // Closing a dialog ends its polling at once: a tick already due must
    // not talk to the module for a dialog that is gone.
    void done(int result) override;

  protected:
    explicit TFormDialog(QWidget* owner) : QDialog(owner) {}
    void showEvent(QShowEvent* event) override;

  private:
    bool m_opened = false;
};

// Fixed-size dialog with the given client area.
void SetupFixedDialog(QWidget* dialog, int width, int height);
// Centred in the screen's available area; a window larger than the area
// gets its top-left corner there, so title bar and menu stay reachable.
QPoint PlaceOnScreen(const QRect& area, const QSize& frame);
void CentreOnScreen(QWidget* window);
// Lets pending window events run, then pauses 1 ms: what the settings
// dialogs do between two transactions of a sequence.
void PumpEventsAndPause();
