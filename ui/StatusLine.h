// A dialog's status bar with one text field across its width. Setting a
// text repaints it at once, so a progress text is on screen while the next
// blocking driver call runs.
#pragma once

#include <QStatusBar>
#include <string>

class QLabel;

class TStatusLine : public QStatusBar {
    Q_OBJECT
  public:
    explicit TStatusLine(QWidget* parent);
    void Show(const std::string& text);  // Windows-1250
    std::string Text() const;

  private:
    QLabel* m_field;
};
