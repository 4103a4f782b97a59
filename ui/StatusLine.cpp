#include "ui/StatusLine.h"

#include <QLabel>

#include "ui/QtText.h"

TStatusLine::TStatusLine(QWidget* parent) : QStatusBar(parent), m_field(new QLabel(this)) {
    setObjectName("StatusBar1");
    setSizeGripEnabled(false);
    m_field->setObjectName("StatusBar1Text");
    // Leading blanks of the texts are meaningful; keep them visible.
    m_field->setTextFormat(Qt::PlainText);
    addWidget(m_field, 1);
}

void TStatusLine::Show(const std::string& text) {
    m_field->setText(ToQt(text));
    m_field->repaint();
}

std::string TStatusLine::Text() const { return FromQt(m_field->text()); }
