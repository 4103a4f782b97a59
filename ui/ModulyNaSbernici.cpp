#include "ui/ModulyNaSbernici.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/QtText.h"

TModulyNaSbernici::TModulyNaSbernici(QWidget* parent) : QWidget(parent) {
    setObjectName("ModulyNaSbernici");
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(ToQt("Moduly na sběrnici"), this);
    title->setObjectName("BusTitle");
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    m_table = new QTableWidget(0, 6, this);
    m_table->setObjectName("BusTable");
    m_table->setHorizontalHeaderLabels({ToQt("Adresa"), ToQt("Rychlost"), ToQt("Název"), ToQt("Verze"),
                                        ToQt("Stav"), ToQt("Poslední odpověď")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    title->setBuddy(m_table);
    layout->addWidget(m_table, 1);
}
