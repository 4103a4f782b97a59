#include "ui/Program.h"

#include <QApplication>

#include "ui/ExternalClose.h"
#include "ui/Hlavni.h"

int RunProgram(TForm1& form1) {
    const TExternalClose external([&form1] { form1.CloseProgram(); }, [&form1] { form1.FormClose(); });
    form1.show();
    return QApplication::exec();
}
