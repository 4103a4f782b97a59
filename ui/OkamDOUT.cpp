#include "ui/OkamDOUT.h"

#include "ui/QtText.h"

TForm9::TForm9(QWidget* owner) : QDialog(owner) { setWindowTitle(ToQt("Zápis na digitální výstupy")); }
