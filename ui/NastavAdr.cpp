#include "ui/NastavAdr.h"

#include "ui/QtText.h"

TForm12::TForm12(QWidget* owner) : QDialog(owner) { setWindowTitle(ToQt("Nastavení komunikační adresy a rychlosti")); }
