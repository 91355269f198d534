#ifndef OPTIONS_H
#define OPTIONS_H

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;
class QWidget;

// The settings dialog, one for the whole process. Every opening reloads
// the controls from the preferences; nothing reaches the preferences
// before Apply or OK. It also tunes the thread limits and runs the
// benchmark on windows of its own.
class Options : public QDialog
{
    Q_OBJECT
public:
    explicit Options(QWidget *parent = nullptr);
    ~Options() override;

    // Fills every control from the preferences; called before each opening.
    void load();

    bool restartWarned() const { return m_restartWarned; }
    // The thread limits as they were before the optimise page changed them
    // (empty when nothing is pending).
    const QList<int> &savedLimits() const { return m_savedLimits; }
    // Bounds of one optimisation: the largest system tried and the time it
    // may take. The thresholds found when a bound stops it are kept.
    void setOptimiseBounds(int maxVariables, int budgetMs);

    // Benchmark file name: the name the user gave, with the kind's suffix.
    static QString benchmarkCopyName(const QString &given, bool binary);

public slots:
    void on_impb_clicked(bool checked = false);
    void on_userDatab_clicked(bool checked = false);
    void on_optimiseb_clicked(bool checked = false);
    void on_benchmarkb_clicked(bool checked = false);
    void on_mainWindowb_clicked(bool checked = false);
    void on_textEditb_clicked(bool checked = false);
    void on_variableb_clicked(bool checked = false);
    void on_plusb_clicked(bool checked = false);

    void on_OKb_clicked();
    void on_Cancelb_clicked();
    void on_Applyb_clicked();

    void on_DispColDefault_clicked();
    void on_DispRowDefault_clicked();
    void on_tolDefault_clicked();
    void on_coefWidthDefault_clicked();
    void on_varSizeDefault_clicked();
    void on_varStyleDefault_clicked();
    void on_varSStyleDefault_clicked();
    void on_plusSizeDefault_clicked();
    void on_plusStyleDefault_clicked();
    void on_plusSStyleDefault_clicked();

    void checkTolerance();
    void MainWindowSpin_Changed(int value);
    void on_comboUI_currentIndexChanged(int index);

    void on_appDataLink_linkActivated(const QString &link);
    void on_updatesLink_linkActivated(const QString &link);
    void on_bugsLink_linkActivated(const QString &link);
    void on_blogLink_linkActivated(const QString &link);
    void on_moreLink_linkActivated(const QString &link);
    void on_socialLink_linkActivated(const QString &link);

    // Optimise page: flag false optimises first, true only refreshes.
    void on_optb_clicked(bool flag = false);
    // flag false keeps a copy of the limits for Cancel first.
    void on_optDefault_clicked(bool flag = false);
    void on_benchStartb_clicked();

    // Cancel, Escape and the close button: the thread limits go back to the
    // copy taken before the optimise page changed them.
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildForm();
    QWidget *buildLinksPage();
    QWidget *buildUserDataPage();
    QWidget *buildOptimisePage();
    QWidget *buildBenchmarkPage();
    void showPage(QPushButton *pressed, QWidget *page, QWidget *subPage);
    void enableApply();
    void updateExamples();
    void refreshThreadTable();
    void keepLimitsCopy();
    void fillBenchTable(const QList<int> &times, int n);
    void openWebPage(const QString &address);

    bool m_restartWarned = false;
    QList<int> m_savedLimits;
    int m_optimiseMaxN = 2000;
    int m_optimiseBudgetMs = 60000;

    // Page buttons and pages.
    QPushButton *m_impb, *m_userDatab, *m_optimiseb, *m_benchmarkb;
    QPushButton *m_mainWindowb, *m_textEditb, *m_variableb, *m_plusb;
    QStackedWidget *m_pages, *m_subPages;
    QWidget *m_impLinks, *m_userData, *m_opt, *m_bench;
    QWidget *m_page, *m_page3, *m_page4, *m_page2;

    // User data.
    QSpinBox *m_dispCol, *m_dispRow;
    QWidget *m_dispColRow, *m_dispRowRow;
    QLineEdit *m_tol;
    QComboBox *m_comboUI, *m_undoCombo, *m_debugCombo, *m_openclCombo;
    QSpinBox *m_coefWidth, *m_coefHeight;
    QSpinBox *m_varWidth, *m_varHeight, *m_varLW, *m_varMLW;
    QComboBox *m_varShape, *m_varShadow;
    QSpinBox *m_plusWidth, *m_plusHeight, *m_plusLW, *m_plusMLW;
    QComboBox *m_plusShape, *m_plusShadow;
    QLineEdit *m_coefExample;
    QLabel *m_varExample, *m_plusExample;

    // Optimise and benchmark pages.
    QTableWidget *m_threadTable, *m_benchTable;
    QLabel *m_boundNote;
    QLineEdit *m_benchLE;
    QComboBox *m_benchUI, *m_fileType;

    QPushButton *m_OKb, *m_Cancelb, *m_Applyb;
};

#endif
