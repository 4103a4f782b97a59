// Placeholder until the dialog is built.
#pragma once

#include <QDialog>

struct TData;

class TForm14 : public QDialog {
    Q_OBJECT
public:
    explicit TForm14(QWidget* owner = nullptr);
    void SetData(TData* record) { m_data = record; }

private:
    TData* m_data = nullptr;
};
