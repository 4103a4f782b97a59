#include "ui/NastavDIO.h"

#include "ui/QtText.h"

TForm14::TForm14(QWidget* owner) : QDialog(owner) { setWindowTitle(ToQt("Nastavení digitálních vstupů/výstupů")); }
