// The modules on the bus: the main window's client area. A table of the
// modules on the line of the current connection settings, filled by a scan
// that runs on a worker thread while the window stays responsive.
#pragma once

#include <QWidget>

class QTableWidget;

class TModulyNaSbernici : public QWidget {
    Q_OBJECT
  public:
    explicit TModulyNaSbernici(QWidget* parent = nullptr);

    QTableWidget* Table() const { return m_table; }

  private:
    QTableWidget* m_table;
};
