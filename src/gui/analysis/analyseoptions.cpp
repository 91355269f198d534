#include "analyseoptions.h"

#include "prefs/userprefs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtCharts/QBarCategoryAxis>
#include <QtCharts/QHorizontalBarSeries>
#include <QtCharts/QBarSet>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QValueAxis>

#include <cmath>

using namespace QtCharts;

namespace {
QPushButton *makeButton(const char *name, const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}
}

AnalyseOptions::AnalyseOptions(QWidget *parent) : QDialog(parent)
{
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto *layout = new QVBoxLayout(this);
    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("stackedWidget"));
    m_stack->addWidget(buildSolutionPage());
    m_stack->addWidget(buildErrorPage());
    layout->addWidget(m_stack);

    const auto g = UserPrefs::getGeometry(UserPrefs::AnalyseOptionsWindow);
    move(g[0], g[1]);
    if (g[2] > 0 && g[3] > 0)
        resize(g[2], g[3]);

    m_accuracyCombo->setCurrentIndex(qBound(0, UserPrefs::getAccuracyMode(), 1));
    m_accuracyBox->setValue(UserPrefs::getAccuracyDigits());
    m_accuracyApplyb->setEnabled(false);
    m_compareb->setEnabled(false);
    m_copyApplyb->setEnabled(false);
    QMetaObject::connectSlotsByName(this);
}

QWidget *AnalyseOptions::buildSolutionPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("solutionPage"));
    auto *v = new QVBoxLayout(page);

    auto *acc = new QGroupBox(QStringLiteral("Accuracy of Solutions:"), page);
    auto *accL = new QHBoxLayout(acc);
    accL->addWidget(new QLabel(QStringLiteral("Select the accuracy of each Solution:"), acc));
    m_accuracyCombo = new QComboBox(acc);
    m_accuracyCombo->setObjectName(QStringLiteral("accuracyCombo"));
    m_accuracyCombo->addItems({QStringLiteral("Significant Digits"), QStringLiteral("Decimal Places")});
    m_accuracyBox = new QSpinBox(acc);
    m_accuracyBox->setObjectName(QStringLiteral("accuracyBox"));
    m_accuracyBox->setRange(1, 15);
    m_accuracyBox->setSuffix(QStringLiteral(" digit"));
    m_accuracyApplyb = makeButton("accuracyApplyb", QStringLiteral("Apply"), acc);
    accL->addWidget(m_accuracyCombo);
    accL->addWidget(m_accuracyBox);
    accL->addWidget(m_accuracyApplyb);
    v->addWidget(acc);

    auto *cmp = new QGroupBox(QStringLiteral("Compare two sets of Solutions:"), page);
    auto *cmpL = new QHBoxLayout(cmp);
    const char *names[3] = {"currentCheck", "customCheck", "fileCheck"};
    const QString texts[3] = {QStringLiteral("Current Solution"), QStringLiteral("Custom Solution"),
                              QStringLiteral("Solution from File")};
    for (int i = 0; i < 3; ++i) {
        m_checks[i] = new QCheckBox(texts[i], cmp);
        m_checks[i]->setObjectName(QLatin1String(names[i]));
        cmpL->addWidget(m_checks[i]);
    }
    m_compareb = makeButton("compareb", QStringLiteral("Compare"), cmp);
    cmpL->addWidget(m_compareb);
    v->addWidget(cmp);

    auto *reset = new QGroupBox(QStringLiteral("Reset Custom Solution:"), page);
    auto *resetL = new QHBoxLayout(reset);
    resetL->addWidget(new QLabel(QStringLiteral("Select the Solution set you want to copy to Custom Solution:"), reset));
    m_copyCombo = new QComboBox(reset);
    m_copyCombo->setObjectName(QStringLiteral("copyCombo"));
    m_copyCombo->addItems({QString(), QStringLiteral("Current"), QStringLiteral("From File"), QStringLiteral("Zero")});
    m_copyAccCheck = new QCheckBox(QStringLiteral("Custom Accuracy"), reset);
    m_copyAccCheck->setObjectName(QStringLiteral("copyAccCheck"));
    m_copyApplyb = makeButton("copyApplyb", QStringLiteral("Apply"), reset);
    resetL->addWidget(m_copyCombo);
    resetL->addWidget(m_copyAccCheck);
    resetL->addWidget(m_copyApplyb);
    v->addWidget(reset);

    auto *copy = new QGroupBox(QStringLiteral("Copy a Solution set to Clipboard:"), page);
    auto *copyL = new QHBoxLayout(copy);
    copyL->addWidget(new QLabel(QStringLiteral("Select the Solution you want to Copy:"), copy));
    m_copyTextCombo = new QComboBox(copy);
    m_copyTextCombo->setObjectName(QStringLiteral("copyTextCombo"));
    m_copyTextCombo->addItems({QStringLiteral("Current"), QStringLiteral("Custom"), QStringLiteral("From File")});
    copyL->addWidget(m_copyTextCombo);
    copyL->addWidget(new QLabel(QStringLiteral("Delimiter:"), copy));
    m_copyTextLE = new QLineEdit(copy);
    m_copyTextLE->setObjectName(QStringLiteral("copyTextLE"));
    m_copyTextLE->setPlaceholderText(QStringLiteral("(space)"));
    m_copyTextLE->setMaximumWidth(80);
    copyL->addWidget(m_copyTextLE);
    m_copyTextCheck = new QCheckBox(QStringLiteral("Custom Accuracy"), copy);
    m_copyTextCheck->setObjectName(QStringLiteral("copyTextCheck"));
    copyL->addWidget(m_copyTextCheck);
    copyL->addWidget(makeButton("copyTextb", QStringLiteral("Copy"), copy));
    v->addWidget(copy);
    v->addStretch(1);
    return page;
}

QStringList AnalyseOptions::rangeLabels()
{
    return {QStringLiteral("x <= 10%"),       QStringLiteral("10% < x <= 20%"), QStringLiteral("20% < x <= 30%"),
            QStringLiteral("30% < x <= 40%"), QStringLiteral("40% < x <= 50%"), QStringLiteral("50% < x <= 60%"),
            QStringLiteral("60% < x <= 70%"), QStringLiteral("70% < x <= 80%"), QStringLiteral("80% < x <= 90%"),
            QStringLiteral("x > 90%")};
}

QWidget *AnalyseOptions::buildErrorPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("errorPage"));
    auto *v = new QVBoxLayout(page);

    auto *uneq = new QGroupBox(QStringLiteral("Calculate No. of Unequal Equations:"), page);
    auto *uneqL = new QHBoxLayout(uneq);
    uneqL->addWidget(new QLabel(QStringLiteral("Neglect Differences below this:"), uneq));
    m_errDiffSpin = new QSpinBox(uneq);
    m_errDiffSpin->setObjectName(QStringLiteral("errDiffSpin"));
    m_errDiffSpin->setRange(-15, 999999999);
    m_errDiffSpin->setValue(-15);
    m_errDiffSpin->setPrefix(QStringLiteral("1e"));
    uneqL->addWidget(m_errDiffSpin);
    uneqL->addWidget(new QLabel(QStringLiteral("No. of Unequal Equations:"), uneq));
    m_errUnequal = new QLineEdit(uneq);
    m_errUnequal->setObjectName(QStringLiteral("errUnequal"));
    m_errUnequal->setReadOnly(true);
    uneqL->addWidget(m_errUnequal);
    m_unequalCalc = makeButton("unequalCalc", QStringLiteral("Calculate"), uneq);
    uneqL->addWidget(m_unequalCalc);
    v->addWidget(uneq);

    auto *dist = new QGroupBox(QStringLiteral("Distribution of Equations by Percentage of Error:"), page);
    auto *distL = new QHBoxLayout(dist);
    const QStringList labels = rangeLabels();
    for (int t = 0; t < 2; ++t) {
        auto *table = new QTableWidget(5, 2, dist);
        table->setObjectName(t == 0 ? QStringLiteral("errPercentTable1") : QStringLiteral("errPercentTable2"));
        table->setHorizontalHeaderLabels({QStringLiteral("Range"), QStringLiteral("No. of Equations")});
        QStringList rows;
        for (int r = 0; r < 5; ++r) {
            rows << QString::number(t * 5 + r + 1);
            auto *range = new QTableWidgetItem(labels.at(t * 5 + r));
            range->setFlags(Qt::ItemIsEnabled);
            range->setTextAlignment(Qt::AlignCenter);
            table->setItem(r, 0, range);
            auto *count = new QTableWidgetItem;
            count->setFlags(Qt::ItemIsEnabled);
            count->setTextAlignment(Qt::AlignCenter);
            table->setItem(r, 1, count);
        }
        table->setVerticalHeaderLabels(rows);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        table->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
        table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        table->setFixedHeight(table->horizontalHeader()->sizeHint().height()
                              + 5 * table->verticalHeader()->defaultSectionSize() + 2 * table->frameWidth());
        m_tables[t] = table;
    }
    auto *tables = new QVBoxLayout;
    tables->addWidget(m_tables[0]);
    tables->addWidget(m_tables[1]);
    distL->addLayout(tables);

    // The same ten counts as bars, one per range, labelled as the tables.
    m_bars = new QBarSet(QStringLiteral("Equations"));
    for (int i = 0; i < 10; ++i)
        *m_bars << 0;
    // Horizontal bars, so that the range labels read in full.
    auto *series = new QHorizontalBarSeries;
    series->append(m_bars);
    series->setLabelsVisible(true);
    series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    auto *chart = new QChart;
    chart->addSeries(series);
    chart->legend()->hide();
    chart->setTitle(QStringLiteral("Equations by Percentage of Error"));
    auto *rangeAxis = new QBarCategoryAxis;
    // Axis labels are rich text: "<" must be written as an entity. The
    // first category is drawn at the bottom, so range 10 comes first and
    // range 1 sits at the top, as in the tables.
    for (int k = 9; k >= 0; --k)
        rangeAxis->append(labels.at(k).toHtmlEscaped());
    chart->addAxis(rangeAxis, Qt::AlignLeft);
    series->attachAxis(rangeAxis);
    m_countAxis = new QValueAxis;
    m_countAxis->setLabelFormat(QStringLiteral("%d"));
    m_countAxis->setRange(0, 1);
    m_countAxis->setTickCount(2);
    chart->addAxis(m_countAxis, Qt::AlignBottom);
    series->attachAxis(m_countAxis);
    m_chartView = new QChartView(chart, dist);
    m_chartView->setObjectName(QStringLiteral("errChart"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setMinimumSize(420, 300);
    distL->addWidget(m_chartView, 1);
    v->addWidget(dist, 1);
    return page;
}

void AnalyseOptions::showSolutionPage()
{
    for (QCheckBox *c : m_checks) {
        const QSignalBlocker block(c);
        c->setChecked(false);
        c->setEnabled(true);
    }
    m_compareb->setEnabled(false);
    m_a = 0;
    m_b = 0;
    {
        const QSignalBlocker block(m_copyCombo);
        m_copyCombo->setCurrentIndex(0);
    }
    m_copyAccCheck->setChecked(false);
    m_copyAccCheck->setEnabled(false);
    m_copyApplyb->setEnabled(false);
    m_copyTextLE->clear();
    m_copyTextCheck->setChecked(false);
    m_stack->setCurrentIndex(0);
    setWindowTitle(QStringLiteral("Options for Analysis of Solutions"));
}

void AnalyseOptions::showErrorPage()
{
    m_errUnequal->clear();
    m_unequalCalc->setEnabled(true);
    m_stack->setCurrentIndex(1);
    setWindowTitle(QStringLiteral("Options for Analysis of Errors"));
}

void AnalyseOptions::reject()
{
    if (m_accuracyApplyb->isEnabled()) {
        m_accuracyApplyb->setEnabled(false);
        const QSignalBlocker b1(m_accuracyCombo);
        const QSignalBlocker b2(m_accuracyBox);
        m_accuracyCombo->setCurrentIndex(qBound(0, UserPrefs::getAccuracyMode(), 1));
        m_accuracyBox->setValue(UserPrefs::getAccuracyDigits());
    }
    const int geo[4] = {x(), y(), width(), height()};
    UserPrefs::setGeometry(UserPrefs::AnalyseOptionsWindow, geo);
    QDialog::reject();
}

// ----------------------------------------------------------------- accuracy

void AnalyseOptions::accuracyChanged()
{
    m_accuracyApplyb->setEnabled(m_accuracyCombo->currentIndex() != UserPrefs::getAccuracyMode()
                                 || m_accuracyBox->value() != UserPrefs::getAccuracyDigits());
}

void AnalyseOptions::on_accuracyCombo_currentIndexChanged(int)
{
    accuracyChanged();
}

void AnalyseOptions::on_accuracyBox_valueChanged(int)
{
    accuracyChanged();
}

void AnalyseOptions::on_accuracyApplyb_clicked()
{
    m_accuracyApplyb->setEnabled(false);
    // Both controls are stored by one press, so the shown values and the
    // preferences never disagree.
    bool changed = false;
    if (m_accuracyCombo->currentIndex() != UserPrefs::getAccuracyMode()) {
        UserPrefs::setAccuracyMode(m_accuracyCombo->currentIndex());
        changed = true;
    }
    if (m_accuracyBox->value() != UserPrefs::getAccuracyDigits()) {
        UserPrefs::setAccuracyDigits(m_accuracyBox->value());
        changed = true;
    }
    if (changed)
        emit updateSolErr();
}

// --------------------------------------------------------------- comparison

QCheckBox *AnalyseOptions::compareBox(int set) const
{
    return m_checks[set];
}

void AnalyseOptions::compareToggled(int set, bool on)
{
    if (!on) {
        for (int i = 0; i < 3; ++i)
            if (i != set)
                m_checks[i]->setEnabled(true);
        m_compareb->setEnabled(false);
        return;
    }
    int other = -1;
    int ticked = 0;
    for (int i = 0; i < 3; ++i) {
        if (i != set && m_checks[i]->isChecked()) {
            other = i;
            ++ticked;
        }
    }
    if (ticked != 1)
        return;
    for (int i = 0; i < 3; ++i)
        if (i != set && i != other)
            m_checks[i]->setEnabled(false);
    m_a = other;
    m_b = set;
    m_compareb->setEnabled(true);
}

void AnalyseOptions::on_currentCheck_toggled(bool on)
{
    compareToggled(0, on);
}

void AnalyseOptions::on_customCheck_toggled(bool on)
{
    compareToggled(1, on);
}

void AnalyseOptions::on_fileCheck_toggled(bool on)
{
    compareToggled(2, on);
}

void AnalyseOptions::on_compareb_clicked()
{
    emit startCompare(m_a, m_b);
    emit showMsg();
    close();
}

// ------------------------------------------------------------ custom reset

void AnalyseOptions::on_copyCombo_currentIndexChanged(int index)
{
    m_copyAccCheck->setChecked(false);
    m_copyAccCheck->setEnabled(false);
    m_copyApplyb->setEnabled(index > 0);
    if (index > 0 && index != 3)
        m_copyAccCheck->setEnabled(true);
}

void AnalyseOptions::on_copyApplyb_clicked()
{
    emit copySols(m_copyCombo->currentIndex(), m_copyAccCheck->isChecked());
    m_copyCombo->setCurrentIndex(0);
    m_copyApplyb->setEnabled(false);
}

void AnalyseOptions::on_copyTextb_clicked()
{
    QString delimiter = m_copyTextLE->text();
    if (delimiter.isEmpty())
        delimiter = QStringLiteral(" ");
    emit copyText(m_copyTextCombo->currentIndex(), delimiter, m_copyTextCheck->isChecked());
}

// ------------------------------------------------------------------- errors

void AnalyseOptions::on_errDiffSpin_valueChanged(int)
{
    m_errUnequal->clear();
    m_unequalCalc->setEnabled(true);
}

void AnalyseOptions::on_unequalCalc_clicked()
{
    m_errUnequal->clear();
    m_unequalCalc->setEnabled(false);
    emit calcUnequal(std::pow(10.0, double(m_errDiffSpin->value())));
}

void AnalyseOptions::setUnequal(QString str)
{
    m_errUnequal->setText(str);
}

void AnalyseOptions::setErrDistribution(QList<int> *list)
{
    if (!list)
        return;
    int top = 0;
    for (int k = 0; k < 10; ++k) {
        const int count = k < list->size() ? list->at(k) : 0;
        m_tables[k / 5]->item(k % 5, 1)->setText(QString::number(count));
        m_bars->replace(9 - k, count);
        top = qMax(top, count);
    }
    delete list;
    // Whole-number ticks: steps of 1, 2 or 5 times a power of ten.
    int step = 1;
    while (top / step > 10) {
        if (top / (step * 2) <= 10) {
            step *= 2;
            break;
        }
        if (top / (step * 5) <= 10) {
            step *= 5;
            break;
        }
        step *= 10;
    }
    const int ceiling = qMax(1, (top + step - 1) / step * step);
    m_countAxis->setRange(0, ceiling);
    m_countAxis->setTickCount(ceiling / step + 1);
}

QList<int> AnalyseOptions::shownCounts() const
{
    QList<int> counts;
    for (int k = 0; k < 10; ++k) {
        bool ok = false;
        const int c = m_tables[k / 5]->item(k % 5, 1)->text().toInt(&ok);
        counts << (ok ? c : -1);
    }
    return counts;
}
