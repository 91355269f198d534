#ifndef ANALYSEOPTIONS_H
#define ANALYSEOPTIONS_H

#include <QDialog>
#include <QList>
#include <QString>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;
namespace QtCharts {
class QChart;
class QChartView;
class QBarSet;
class QValueAxis;
}

// The options of the analysis dialog: accuracy, comparison, reset of the
// Custom set and clipboard copy on the solution page; the unequal count and
// the error distribution (two range tables and a bar chart) on the error
// page. It computes nothing: it stores preferences, sends requests and shows
// the answers.
class AnalyseOptions : public QDialog
{
    Q_OBJECT
public:
    explicit AnalyseOptions(QWidget *parent = nullptr);

    // Page entries, used before the dialog is shown.
    void showSolutionPage();
    void showErrorPage();

    // The range labels in order (ranges 1 to 10).
    static QStringList rangeLabels();
    // The counts shown in column "No. of Equations" (empty text: -1).
    QList<int> shownCounts() const;
    // The bars, range 10 first (drawn bottom up).
    QtCharts::QBarSet *chartBars() const { return m_bars; }
    QPair<int, int> comparePair() const { return {m_a, m_b}; }

public slots:
    void setUnequal(QString str);
    void setErrDistribution(QList<int> *list);
    void reject() override;

signals:
    void startCompare(int a, int b);
    void showMsg();
    void copySols(int n, bool customAcc);
    void copyText(int n, QString delim, bool customAcc);
    void updateSolErr();
    void calcUnequal(double tolerance);

private slots:
    void on_accuracyCombo_currentIndexChanged(int index);
    void on_accuracyBox_valueChanged(int value);
    void on_accuracyApplyb_clicked();
    void on_currentCheck_toggled(bool on);
    void on_customCheck_toggled(bool on);
    void on_fileCheck_toggled(bool on);
    void on_compareb_clicked();
    void on_copyCombo_currentIndexChanged(int index);
    void on_copyApplyb_clicked();
    void on_copyTextb_clicked();
    void on_errDiffSpin_valueChanged(int value);
    void on_unequalCalc_clicked();

private:
    QWidget *buildSolutionPage();
    QWidget *buildErrorPage();
    void accuracyChanged();
    void compareToggled(int set, bool on);
    QCheckBox *compareBox(int set) const;

    QStackedWidget *m_stack = nullptr;
    QComboBox *m_accuracyCombo = nullptr;
    QSpinBox *m_accuracyBox = nullptr;
    QPushButton *m_accuracyApplyb = nullptr;
    QCheckBox *m_checks[3] = {nullptr, nullptr, nullptr};
    QPushButton *m_compareb = nullptr;
    QComboBox *m_copyCombo = nullptr;
    QCheckBox *m_copyAccCheck = nullptr;
    QPushButton *m_copyApplyb = nullptr;
    QComboBox *m_copyTextCombo = nullptr;
    QLineEdit *m_copyTextLE = nullptr;
    QCheckBox *m_copyTextCheck = nullptr;
    QSpinBox *m_errDiffSpin = nullptr;
    QLineEdit *m_errUnequal = nullptr;
    QPushButton *m_unequalCalc = nullptr;
    QTableWidget *m_tables[2] = {nullptr, nullptr};
    QtCharts::QChartView *m_chartView = nullptr;
    QtCharts::QBarSet *m_bars = nullptr;
    QtCharts::QValueAxis *m_countAxis = nullptr;
    int m_a = 0;
    int m_b = 0;
};

#endif
