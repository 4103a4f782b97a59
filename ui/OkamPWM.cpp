#include "ui/OkamPWM.h"

#include "ui/QtText.h"

TForm3::TForm3(QWidget* owner) : QDialog(owner) { setWindowTitle(ToQt("PWM výstup")); }
