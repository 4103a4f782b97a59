#include "ui/StatReg.h"

#include "ui/QtText.h"

TForm15::TForm15(QWidget* owner) : QDialog(owner) { setWindowTitle(ToQt("Status registr")); }
