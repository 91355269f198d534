// The fancy interface of a window: the field grid in the equation area, the
// "Pan :" controls, edits typed into the fields, and the fields copied into
// the arrays (before solving and saving) and back (after opening).
#include "tarvix.h"
#include "ui_tarvix.h"

#include "fancy/fancygrid.h"
#include "prefs/userprefs.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>

#include <cmath>

void tarvix::buildFancyView()
{
    m_grid = new FancyGrid(ui->areaLayout, ui->gridFrame, this);
    m_grid->setPanControls(ui->H_LE, ui->V_LE, ui->hpanLimit, ui->vpanLimit);
    const int h = int(3 * UserPrefs::getHorizontalScale());
    const int v = int(5 * UserPrefs::getVerticalScale());
    ui->H_LE->setTextMargins(h, v, h, v);
    ui->V_LE->setTextMargins(h, v, h, v);
    // Page numbers are short; the fields need not take the width of a line.
    const int width = ui->H_LE->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 2 * h + 12;
    ui->H_LE->setMaximumWidth(width);
    ui->V_LE->setMaximumWidth(width);
    connect(ui->left_panb, &QPushButton::clicked, m_grid, &FancyGrid::panLeft);
    connect(ui->right_panb, &QPushButton::clicked, m_grid, &FancyGrid::panRight);
    connect(ui->up_panb, &QPushButton::clicked, m_grid, &FancyGrid::panUp);
    connect(ui->down_panb, &QPushButton::clicked, m_grid, &FancyGrid::panDown);
    connect(m_grid, &FancyGrid::fieldEdited, this, &tarvix::leditChanged);
}

void tarvix::leditChanged(int equation, int column, QString text)
{
    const int n = m_store.N;
    if (!m_grid || m_grid->count() != n || equation < 0 || equation >= n || column < 0 || column > n)
        return;
    // An emptied field reads as 0, as everywhere else the fields are read.
    double value = 0.0;
    if (!text.trimmed().isEmpty() && !FancyGrid::parseField(text, &value))
        return;
    double &target = column < n ? m_store.coef[equation][column] : m_store.rhs[equation];
    // Leaving a field (tabbing through the grid) ends its editing as well:
    // only a new value is an edit.
    if (value == target || (std::isnan(value) && std::isnan(target)))
        return;
    const double old = target;
    target = value;
    // The recorder hears of field edits also while the window is quiet: the
    // replay itself types into no field. The right-hand side is the table
    // layout's column N + 1.
    emit textChanged(equation, column < n ? column : n + 1, roundTripText(value), roundTripText(old));
    m_doc.setSaved(false);
}

void tarvix::fancyToArrays()
{
    if (m_grid && m_grid->count() == m_store.N && m_store.coef)
        m_grid->readInto(m_store.coef, m_store.rhs);
}

void tarvix::arraysToFancy()
{
    if (!m_grid || !m_store.coef)
        return;
    m_grid->setCount(m_store.N);
    m_grid->writeFrom(m_store.coef, m_store.rhs);
}
