#include "ui/BitColumn.h"

#include <QLabel>

#include "ui/QtText.h"

namespace {

constexpr int kRowPitch = 24;
constexpr int kRowHeight = 17;
constexpr int kPanelWidth = 25;

QLabel* MakeLabel(QWidget* parent, const std::string& name, const char* caption) {
    auto* label = new QLabel(ToQt(caption), parent);
    label->setObjectName(QString::fromLatin1(name.c_str()));
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

const char* BitText(uint8_t byte, unsigned bit) {
    if (bit > 7) return "0";
    return ((byte >> bit) & 1u) != 0 ? "1" : "0";
}

TBitColumn::TBitColumn(QWidget* parent, int left, int top, int nameWidth, const TNames& names) {
    auto* panel = new QLabel(parent);
    panel->setObjectName(names.panel);
    panel->setGeometry(left + nameWidth, top, kPanelWidth, 8 * kRowPitch + 4);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAutoFillBackground(true);
    QPalette white = panel->palette();
    white.setColor(QPalette::Window, Qt::white);
    panel->setPalette(white);

    for (std::size_t r = 0; r < m_values.size(); ++r) {
        const int rowTop = 6 + static_cast<int>(r) * kRowPitch;
        QLabel* name = MakeLabel(parent, names.namePrefix + std::to_string(r), names.captions[r]);
        name->setGeometry(left, top + rowTop, nameWidth - 4, kRowHeight);
        QLabel* value = MakeLabel(panel, names.valuePrefix + std::to_string(r), "0");
        value->setGeometry(2, rowTop, kPanelWidth - 4, kRowHeight);
        value->setAlignment(Qt::AlignCenter);
        m_values[r] = value;
    }
}

void TBitColumn::ShowByte(uint8_t byte) {
    for (std::size_t r = 0; r < m_values.size(); ++r) {
        m_values[r]->setText(ToQt(BitText(byte, static_cast<unsigned>(r))));
        m_values[r]->setEnabled(true);
    }
}

// The disabled look greys the text and leaves the panel as it is.
void TBitColumn::MarkStale() {
    for (QLabel* value : m_values) value->setEnabled(false);
}
