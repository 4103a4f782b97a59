// Small things every dialog needs.
#pragma once

#include <QWidget>

// Fixed-size dialog with the given client area, centred on the screen when
// shown.
void SetupFixedDialog(QWidget* dialog, int width, int height);
void CentreOnScreen(QWidget* window);
// Lets pending window events run, then pauses 1 ms: what the settings
// dialogs do between two transactions of a sequence.
void PumpEventsAndPause();
