#include "ui/OkamDIN.h"

#include "ui/QtText.h"

TForm11::TForm11(QWidget* owner) : QDialog(owner) { setWindowTitle(ToQt("Okamžité hodnoty digitálních vstupů")); }
