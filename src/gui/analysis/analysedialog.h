#ifndef ANALYSEDIALOG_H
#define ANALYSEDIALOG_H

#include "analysis/analysis.h"
#include "solver/trust.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <array>
#include <vector>

class AnalyseOptions;
class AnalyseTable;
class QComboBox;
class QFrame;
class QHBoxLayout;
class QLabel;
class QMessageBox;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableView;

// The analysis dialog of one main window: the three solution sets side by
// side (Custom editable), the residual of every equation for a chosen set,
// and the comparison of two sets, each as pages of tables. It shows the
// window's arrays and its own display copies; it writes only the window's
// Custom vector.
class AnalyseDialog : public QDialog
{
    Q_OBJECT
public:
    enum Page { SolutionPage = 0, ErrorPage = 1, ComparePage = 2 };

    explicit AnalyseDialog(QWidget *parent = nullptr);
    ~AnalyseDialog() override;

    // Hands over the window's system (not copied) and rebuilds everything;
    // the window then shows the dialog.
    void setUp(int n, double **coef, double *rhs, double *custom, double *fromFile, double *current);

    // The trust figures of the last solve (backward error, condition
    // estimate, forward error bound), shown in one line on the error page,
    // with the warning of a solve that lost digits to the condition under
    // it; hidden for a record of no solve.
    void setSolveTrust(const SolveTrust &trust);
    QString solveTrustText() const;

    AnalyseOptions *options() const { return m_options; }
    QMessageBox *compareBox() const { return m_compareBox; }
    int currentPage() const;
    int tableCount(Page page) const { return m_views[page].size(); }
    AnalyseTable *table(Page page, int t) const;
    QTableView *tableView(Page page, int t) const;
    const std::array<int, 10> &distribution() const { return m_counts; }

public slots:
    void updateSolErr();
    void msgFinished();
    void startCompare(int a, int b);
    void copySolsToCustom(int n, bool customAcc);
    void copySolToClipboard(int n, QString delimiter, bool customAcc);
    void customSolChanged(int row, double value);
    void calcUnequal(double tolerance);
    void reject() override;

    void on_solutionb_clicked();
    void on_errorb_clicked();
    void on_pushButton_3_clicked();
    void on_solCombo_currentIndexChanged(int index);
    void on_errCombo_currentIndexChanged(int index);
    void on_optionsb_clicked();
    void on_rowSpin_valueChanged(int value);
    void on_tableSpin_valueChanged(int value);
    void on_viewApplyb_clicked();

signals:
    void setUnequal(QString str);
    void setErrDistribution(QList<int> *list);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Once shown the frame is known: the dialog is fitted again with it.
    void showEvent(QShowEvent *event) override;

private:
    void buildForm();
    QWidget *buildPage(Page page);
    // Remakes the display copies of the given sets on worker threads named
    // threadName and waits for them while processing events.
    void makeDisplayCopies(const QList<int> &sets, const QString &threadName);
    void setModelsBusy(bool busy);
    void computeErrors();
    // Table counts and row ranges of one page (from the preferences).
    void layoutPage(Page page);
    void fillPage(Page page);
    void refreshAll();
    // Columns sized to their contents; the view is at least as wide as them.
    void fitColumns(QTableView *view);
    void resizeToTables();
    // Size and place within the available screen, so Close stays reachable.
    void fitToScreen();
    QTableView *takeView();
    // Moves the page's views beyond the first keep back to the pool.
    void releaseViews(Page page, int keep = 0);
    void syncSpinsToPrefs();
    void showPage(bool solutions);
    const double *sourceSet(int set, bool display) const;
    bool busy() const { return m_refreshing; }

    // The window's arrays.
    int m_n = 0;
    double **m_coef = nullptr;
    double *m_rhs = nullptr;
    double *m_custom = nullptr;
    double *m_fromFile = nullptr;
    double *m_current = nullptr;

    // Display copies in set order (Current, Custom, From File).
    std::vector<double> m_display[3];
    std::vector<double> m_lhs, m_diff, m_pct;
    std::vector<int> m_na;
    std::vector<double> m_cmpDiff, m_cmpPct;
    std::vector<int> m_cmpNa;
    int m_cmpA = 0;
    int m_cmpB = 0;
    std::array<int, 10> m_counts{};
    Analysis::Paging m_paging[2];

    QList<QTableView *> m_views[3];
    QList<QTableView *> m_pool;
    QHBoxLayout *m_pageLayouts[3] = {nullptr, nullptr, nullptr};

    QFrame *m_topFrame = nullptr;
    QFrame *m_bottomFrame = nullptr;
    QPushButton *m_solutionb = nullptr;
    QPushButton *m_errorb = nullptr;
    QPushButton *m_optionsb = nullptr;
    QSpinBox *m_rowSpin = nullptr;
    QSpinBox *m_tableSpin = nullptr;
    QPushButton *m_viewApplyb = nullptr;
    QStackedWidget *m_stack = nullptr;
    QLabel *m_myLabel = nullptr;
    QComboBox *m_solCombo = nullptr;
    QComboBox *m_errCombo = nullptr;
    QLabel *m_trustLabel = nullptr;
    SolveTrust m_trust;

    AnalyseOptions *m_options = nullptr;
    QMessageBox *m_compareBox = nullptr;
    bool m_finishingCompare = false;
    bool m_refreshing = false;
    bool m_refreshAgain = false;
};

#endif
