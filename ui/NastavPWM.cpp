#include "ui/NastavPWM.h"

#include "ui/QtText.h"

TForm4::TForm4(QWidget* owner) : QDialog(owner) { setWindowTitle(ToQt("PWM výstup")); }
