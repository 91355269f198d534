#include "options.h"
#include "files/atomicfile.h"

#include "env/environment.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"
#include "store/equationstore.h"
#include "tarvix.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDoubleValidator>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <charconv>
#include <string>

namespace {

QString number6(double v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return QString::fromLatin1(buf, int(r.ptr - buf));
}

// Text that is not a number reads as 0.
double parseDouble(const QString &text)
{
    const std::string s = text.trimmed().toStdString();
    double v = 0.0;
    const char *first = s.data();
    if (!s.empty() && s[0] == '+')
        ++first;
    const auto r = std::from_chars(first, s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        return 0.0;
    return v;
}

int parseInt(const QString &text)
{
    const std::string s = text.trimmed().toStdString();
    int v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        return 0;
    return v;
}

QSpinBox *spin(const char *name, int min, int max)
{
    auto *s = new QSpinBox;
    s->setObjectName(QLatin1String(name));
    s->setRange(min, max);
    return s;
}

QComboBox *combo(const char *name, const QStringList &items)
{
    auto *c = new QComboBox;
    c->setObjectName(QLatin1String(name));
    c->addItems(items);
    return c;
}

QPushButton *button(const char *name, const QString &text, bool checkable = false)
{
    auto *b = new QPushButton(text);
    b->setObjectName(QLatin1String(name));
    b->setCheckable(checkable);
    b->setAutoDefault(false);
    return b;
}

QLabel *linkLabel(const char *name)
{
    auto *l = new QLabel;
    l->setObjectName(QLatin1String(name));
    l->setTextFormat(Qt::RichText);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    l->setOpenExternalLinks(false);
    return l;
}

QFrame::Shape shapeFor(int index)
{
    return index == 0 ? QFrame::Panel : QFrame::StyledPanel;
}

QFrame::Shadow shadowFor(int index)
{
    switch (index) {
    case 0:
        return QFrame::Raised;
    case 1:
        return QFrame::Plain;
    default:
        return QFrame::Sunken;
    }
}

const QStringList kShapes{QStringLiteral("Panel"), QStringLiteral("Styled Panel")};
const QStringList kShadows{QStringLiteral("Raised"), QStringLiteral("Plain"), QStringLiteral("Sunken")};
const QStringList kOnOff{QStringLiteral("Enabled"), QStringLiteral("Disabled")};

QMessageBox *waitBox(QWidget *parent, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::NoButton, parent,
                                Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    box->setStandardButtons(QMessageBox::NoButton);
    box->show();
    QApplication::processEvents();
    return box;
}

} // namespace

Options::Options(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    buildForm();
}

Options::~Options() = default;

void Options::buildForm()
{
    m_impb = button("impb", QStringLiteral("Important Links"), true);
    m_userDatab = button("userDatab", QStringLiteral("User Data"), true);
    m_mainWindowb = button("mainWindowb", QStringLiteral("Main Window"), true);
    m_textEditb = button("textEditb", QStringLiteral("Co-efficient Text Edit"), true);
    m_variableb = button("variableb", QStringLiteral("Variable Button"), true);
    m_plusb = button("plusb", QStringLiteral("Plus/Equals Button"), true);
    m_optimiseb = button("optimiseb", QStringLiteral("Optimise"), true);
    m_benchmarkb = button("benchmarkb", QStringLiteral("Benchmark"), true);

    auto *side = new QVBoxLayout;
    side->addWidget(m_impb);
    side->addWidget(m_userDatab);
    for (QPushButton *b : {m_mainWindowb, m_textEditb, m_variableb, m_plusb}) {
        auto *indent = new QHBoxLayout;
        indent->addSpacing(16);
        indent->addWidget(b);
        side->addLayout(indent);
    }
    side->addWidget(m_optimiseb);
    side->addWidget(m_benchmarkb);
    side->addStretch(1);

    m_pages = new QStackedWidget;
    m_pages->setObjectName(QStringLiteral("stackedWidget"));
    m_impLinks = buildLinksPage();
    m_userData = buildUserDataPage();
    m_opt = buildOptimisePage();
    m_bench = buildBenchmarkPage();
    for (QWidget *p : {m_impLinks, m_userData, m_opt, m_bench})
        m_pages->addWidget(p);

    auto *body = new QHBoxLayout;
    body->addLayout(side);
    body->addWidget(m_pages, 1);

    m_OKb = button("OKb", QStringLiteral("OK"));
    m_Cancelb = button("Cancelb", QStringLiteral("Cancel"));
    m_Applyb = button("Applyb", QStringLiteral("Apply"));
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("What should be done with the changes?")), 1);
    bottom->addWidget(m_OKb);
    bottom->addWidget(m_Cancelb);
    bottom->addWidget(m_Applyb);

    auto *top = new QVBoxLayout(this);
    top->addLayout(body, 1);
    top->addLayout(bottom);

    connect(m_impb, &QPushButton::clicked, this, &Options::on_impb_clicked);
    connect(m_userDatab, &QPushButton::clicked, this, &Options::on_userDatab_clicked);
    connect(m_optimiseb, &QPushButton::clicked, this, &Options::on_optimiseb_clicked);
    connect(m_benchmarkb, &QPushButton::clicked, this, &Options::on_benchmarkb_clicked);
    connect(m_mainWindowb, &QPushButton::clicked, this, &Options::on_mainWindowb_clicked);
    connect(m_textEditb, &QPushButton::clicked, this, &Options::on_textEditb_clicked);
    connect(m_variableb, &QPushButton::clicked, this, &Options::on_variableb_clicked);
    connect(m_plusb, &QPushButton::clicked, this, &Options::on_plusb_clicked);
    connect(m_OKb, &QPushButton::clicked, this, &Options::on_OKb_clicked);
    connect(m_Cancelb, &QPushButton::clicked, this, &Options::on_Cancelb_clicked);
    connect(m_Applyb, &QPushButton::clicked, this, &Options::on_Applyb_clicked);
}

QWidget *Options::buildLinksPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("impLinksWidget"));
    auto *grid = new QGridLayout(page);
    struct Row
    {
        const char *name;
        const char *caption;
        void (Options::*slot)(const QString &);
        bool shown;
    };
    // Only the local folder is offered: the program has no web pages of
    // its own to point to, and a dead address is worse than none.
    const Row rows[] = {
        {"appDataLink", "Browse Application Local Files:", &Options::on_appDataLink_linkActivated, true},
        {"updatesLink", "Check for Updates:", &Options::on_updatesLink_linkActivated, false},
        {"bugsLink", "File Complaints/Problems:", &Options::on_bugsLink_linkActivated, false},
        {"blogLink", "Latest News:", &Options::on_blogLink_linkActivated, false},
        {"moreLink", "More:", &Options::on_moreLink_linkActivated, false},
        {"socialLink", "Social Network:", &Options::on_socialLink_linkActivated, false},
    };
    int r = 0;
    for (const Row &row : rows) {
        auto *caption = new QLabel(QLatin1String(row.caption));
        QLabel *link = linkLabel(row.name);
        connect(link, &QLabel::linkActivated, this, row.slot);
        caption->setVisible(row.shown);
        link->setVisible(row.shown);
        grid->addWidget(caption, r, 0);
        grid->addWidget(link, r, 1);
        ++r;
    }
    grid->setRowStretch(r, 1);
    grid->setColumnStretch(1, 1);
    return page;
}

QWidget *Options::buildUserDataPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("userDataWidget"));
    m_subPages = new QStackedWidget(page);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(m_subPages);

    auto rowOf = [](QWidget *a, QWidget *b, QWidget *c = nullptr) {
        auto *w = new QWidget;
        auto *h = new QHBoxLayout(w);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(a, 1);
        h->addWidget(b);
        if (c)
            h->addWidget(c);
        return w;
    };

    // Main window settings.
    m_page = new QWidget;
    m_page->setObjectName(QStringLiteral("page"));
    auto *main = new QVBoxLayout(m_page);
    m_dispCol = spin("DispColSpin", 3, 99);
    m_dispRow = spin("DispRowSpin", 3, 99);
    m_dispColRow = rowOf(new QLabel(QStringLiteral("No of Variables (columns) displayed in 1 Window :")), m_dispCol,
                         button("DispColDefault", QStringLiteral("Default")));
    m_dispRowRow = rowOf(new QLabel(QStringLiteral("No of Equations (rows) displayed in 1 Window :")), m_dispRow,
                         button("DispRowDefault", QStringLiteral("Default")));
    main->addWidget(m_dispColRow);
    main->addWidget(m_dispRowRow);
    m_tol = new QLineEdit;
    m_tol->setObjectName(QStringLiteral("tolLE"));
    m_tol->setMinimumWidth(110);
    auto *validator = new QDoubleValidator(1e-15, 0.1, 1000, m_tol);
    validator->setNotation(QDoubleValidator::ScientificNotation);
    m_tol->setValidator(validator);
    auto *tolRow = new QWidget;
    auto *tolH = new QHBoxLayout(tolRow);
    tolH->setContentsMargins(0, 0, 0, 0);
    tolH->addWidget(new QLabel(QStringLiteral("Tolerance (Anything less than this is zero) = ")), 1);
    tolH->addWidget(m_tol);
    tolH->addWidget(new QLabel(QStringLiteral("( 1e-15 to 0.1 )")));
    tolH->addWidget(button("tolDefault", QStringLiteral("Default")));
    main->addWidget(tolRow);
    m_comboUI = combo("comboUI", {QStringLiteral("Fancy"), QStringLiteral("Simple")});
    m_comboUI->setToolTip(QStringLiteral("Simple Style is more efficient & faster than Fancy Style.\nHowever, none has any impact on the accuracy of solution.\nUse Fancy Style for Lower no of Variables & Simple Style for Higher no of Variables."));
    main->addWidget(rowOf(new QLabel(QStringLiteral("User Interface :")), m_comboUI));
    m_undoCombo = combo("undoCombo", kOnOff);
    main->addWidget(rowOf(new QLabel(QStringLiteral("Undo/Redo :")), m_undoCombo));
    m_debugCombo = combo("debugCombo", kOnOff);
    main->addWidget(rowOf(new QLabel(QStringLiteral("Debug Mode :")), m_debugCombo));
    m_openclCombo = combo("openclCombo", kOnOff);
    auto *openclLabel = new QLabel(QStringLiteral("Hardware Acceleration using OpenCL:"));
    openclLabel->setToolTip(QStringLiteral("Solve the equations on multiple devices like CPU, GPU, etc. through OpenCL technology."));
    main->addWidget(rowOf(openclLabel, m_openclCombo));
    main->addStretch(1);

    auto sizeBlock = [&](QVBoxLayout *to, QSpinBox *w, QSpinBox *h, const char *defaultName) {
        to->addWidget(new QLabel(QStringLiteral("SIZE :")));
        auto *g = new QGridLayout;
        g->addWidget(new QLabel(QStringLiteral("Width")), 0, 0);
        g->addWidget(w, 0, 1);
        g->addWidget(new QLabel(QStringLiteral("Height")), 1, 0);
        g->addWidget(h, 1, 1);
        g->addWidget(button(defaultName, QStringLiteral("Default")), 0, 2, 2, 1);
        to->addLayout(g);
    };
    auto styleBlock = [&](QVBoxLayout *to, QComboBox *shape, QComboBox *shadow, const char *styleDefault,
                          QSpinBox *lw, QSpinBox *mlw, const char *shadowDefault) {
        to->addWidget(new QLabel(QStringLiteral("STYLE :")));
        auto *g = new QGridLayout;
        g->addWidget(new QLabel(QStringLiteral("Shape")), 0, 0);
        g->addWidget(shape, 0, 1);
        g->addWidget(new QLabel(QStringLiteral("Shadow")), 1, 0);
        g->addWidget(shadow, 1, 1);
        g->addWidget(button(styleDefault, QStringLiteral("Default")), 0, 2, 2, 1);
        to->addLayout(g);
        to->addWidget(new QLabel(QStringLiteral("SHADOW STYLE :")));
        auto *s = new QGridLayout;
        s->addWidget(new QLabel(QStringLiteral("Line Width")), 0, 0);
        s->addWidget(lw, 0, 1);
        s->addWidget(new QLabel(QStringLiteral("Mid-Line Width")), 1, 0);
        s->addWidget(mlw, 1, 1);
        s->addWidget(button(shadowDefault, QStringLiteral("Default")), 0, 2, 2, 1);
        to->addLayout(s);
    };

    // Coefficient field.
    m_page3 = new QWidget;
    m_page3->setObjectName(QStringLiteral("page_3"));
    auto *coef = new QVBoxLayout(m_page3);
    m_coefWidth = spin("coefWidthSpin", 20, 200);
    m_coefHeight = spin("coefHeightSpin", 10, 99);
    sizeBlock(coef, m_coefWidth, m_coefHeight, "coefWidthDefault");
    m_coefExample = new QLineEdit(QStringLiteral("123.456"));
    m_coefExample->setObjectName(QStringLiteral("coefExample"));
    m_coefExample->setReadOnly(true);
    coef->addWidget(m_coefExample);
    coef->addStretch(1);

    // Variable button.
    m_page4 = new QWidget;
    m_page4->setObjectName(QStringLiteral("page_4"));
    auto *var = new QVBoxLayout(m_page4);
    m_varWidth = spin("varWidthSpin", 10, 100);
    m_varHeight = spin("varHeightSpin", 10, 70);
    sizeBlock(var, m_varWidth, m_varHeight, "varSizeDefault");
    m_varShape = combo("varSShapeCombo", kShapes);
    m_varShadow = combo("varSShadowCombo", kShadows);
    m_varLW = spin("varSLWidthSpin", 0, 10);
    m_varMLW = spin("varSMLWidthSpin", 0, 10);
    styleBlock(var, m_varShape, m_varShadow, "varStyleDefault", m_varLW, m_varMLW, "varSStyleDefault");
    m_varExample = new QLabel;
    m_varExample->setObjectName(QStringLiteral("varExample"));
    m_varExample->setAlignment(Qt::AlignCenter);
    var->addWidget(m_varExample);
    var->addStretch(1);

    // Plus/equals button.
    m_page2 = new QWidget;
    m_page2->setObjectName(QStringLiteral("page_2"));
    auto *plus = new QVBoxLayout(m_page2);
    m_plusWidth = spin("plusWidthSpin", 10, 70);
    m_plusHeight = spin("plusHeightSpin", 10, 70);
    sizeBlock(plus, m_plusWidth, m_plusHeight, "plusSizeDefault");
    m_plusShape = combo("plusSShapeCombo", kShapes);
    m_plusShadow = combo("plusSShadowCombo", kShadows);
    m_plusLW = spin("plusSLWidthSpin", 0, 10);
    m_plusMLW = spin("plusSMLWidthSpin", 0, 10);
    styleBlock(plus, m_plusShape, m_plusShadow, "plusStyleDefault", m_plusLW, m_plusMLW, "plusSStyleDefault");
    m_plusExample = new QLabel(QStringLiteral("+"));
    m_plusExample->setObjectName(QStringLiteral("plusExample"));
    m_plusExample->setAlignment(Qt::AlignCenter);
    plus->addWidget(m_plusExample);
    plus->addStretch(1);

    for (QWidget *p : {m_page, m_page3, m_page4, m_page2})
        m_subPages->addWidget(p);

    // Change tracking: any change offers Apply; sizes and styles redraw
    // their example at once.
    connect(m_dispCol, QOverload<int>::of(&QSpinBox::valueChanged), this, &Options::MainWindowSpin_Changed);
    connect(m_dispRow, QOverload<int>::of(&QSpinBox::valueChanged), this, &Options::MainWindowSpin_Changed);
    for (QSpinBox *s : {m_coefWidth, m_coefHeight, m_varWidth, m_varHeight, m_varLW, m_varMLW, m_plusWidth,
                        m_plusHeight, m_plusLW, m_plusMLW})
        connect(s, QOverload<int>::of(&QSpinBox::valueChanged), this, [this] {
            enableApply();
            updateExamples();
        });
    for (QComboBox *c : {m_undoCombo, m_debugCombo, m_openclCombo, m_varShape, m_varShadow, m_plusShape, m_plusShadow})
        connect(c, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
            enableApply();
            updateExamples();
        });
    connect(m_comboUI, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &Options::on_comboUI_currentIndexChanged);
    connect(m_tol, &QLineEdit::editingFinished, this, &Options::checkTolerance);
    connect(m_tol, &QLineEdit::textEdited, this, &Options::enableApply);
    // The validator holds editingFinished back for out-of-range text; leaving
    // the field must still put the stored value back.
    m_tol->installEventFilter(this);

    const struct
    {
        const char *name;
        void (Options::*slot)();
    } defaultButtons[] = {
        {"DispColDefault", &Options::on_DispColDefault_clicked},
        {"DispRowDefault", &Options::on_DispRowDefault_clicked},
        {"tolDefault", &Options::on_tolDefault_clicked},
        {"coefWidthDefault", &Options::on_coefWidthDefault_clicked},
        {"varSizeDefault", &Options::on_varSizeDefault_clicked},
        {"varStyleDefault", &Options::on_varStyleDefault_clicked},
        {"varSStyleDefault", &Options::on_varSStyleDefault_clicked},
        {"plusSizeDefault", &Options::on_plusSizeDefault_clicked},
        {"plusStyleDefault", &Options::on_plusStyleDefault_clicked},
        {"plusSStyleDefault", &Options::on_plusSStyleDefault_clicked},
    };
    for (const auto &d : defaultButtons)
        connect(page->findChild<QPushButton *>(QLatin1String(d.name)), &QPushButton::clicked, this, d.slot);
    return page;
}

QWidget *Options::buildOptimisePage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("optWidget"));
    auto *layout = new QVBoxLayout(page);
    m_threadTable = new QTableWidget(0, 3);
    m_threadTable->setObjectName(QStringLiteral("tableWidget"));
    m_threadTable->setHorizontalHeaderLabels({QStringLiteral("From (No of Equations)"),
                                              QStringLiteral("No of Threads"),
                                              QStringLiteral("To (No of Equations)")});
    m_threadTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_threadTable->verticalHeader()->setVisible(false);
    layout->addWidget(m_threadTable, 1);

    auto *buttons = new QHBoxLayout;
    QPushButton *optb = button("optb", QStringLiteral("Optimise"));
    optb->setToolTip(QStringLiteral("Optimise number of threads used for lower number of variables, to reduce power usage."));
    QPushButton *optDefault = button("optDefault", QStringLiteral("Default"));
    buttons->addStretch(1);
    buttons->addWidget(optb);
    buttons->addWidget(optDefault);
    layout->addLayout(buttons);

    auto *note = new QLabel(QStringLiteral(
        "This functionailty is <span style=\" color:#c70003;\">highly sensitive</span>. Thus you may "
        "observe small variation in the values even for similar conditions. If you do not observe any "
        "large deviations (<span style=\" color:#000e90;\">~ &gt;10</span>) then please dont repeat the "
        "optimisation as it will never stop at a particular value."));
    note->setObjectName(QStringLiteral("optText"));
    note->setTextFormat(Qt::RichText);
    note->setWordWrap(true);
    layout->addWidget(note);

    m_boundNote = new QLabel;
    m_boundNote->setObjectName(QStringLiteral("optBoundNote"));
    m_boundNote->setWordWrap(true);
    m_boundNote->setVisible(false);
    layout->addWidget(m_boundNote);

    connect(optb, &QPushButton::clicked, this, [this] { on_optb_clicked(false); });
    connect(optDefault, &QPushButton::clicked, this, [this] { on_optDefault_clicked(false); });
    return page;
}

QWidget *Options::buildBenchmarkPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("benchWidget"));
    auto *layout = new QVBoxLayout(page);
    auto *form = new QGridLayout;
    m_benchLE = new QLineEdit;
    m_benchLE->setObjectName(QStringLiteral("benchLE"));
    form->addWidget(new QLabel(QStringLiteral("Enter the number of Variables :")), 0, 0);
    form->addWidget(m_benchLE, 0, 1);
    m_benchUI = combo("benchUI", {QStringLiteral("Simple"), QStringLiteral("Stealth Mode")});
    form->addWidget(new QLabel(QStringLiteral("User Interface :")), 1, 0);
    form->addWidget(m_benchUI, 1, 1);
    m_fileType = combo("fileTypecombo", {QStringLiteral("Text File (.trx)"), QStringLiteral("Binary File (.btrx)")});
    form->addWidget(new QLabel(QStringLiteral("File Type:")), 2, 0);
    form->addWidget(m_fileType, 2, 1);
    QPushButton *start = button("benchStartb", QStringLiteral("Start"));
    form->addWidget(start, 3, 1);
    layout->addLayout(form);

    m_benchTable = new QTableWidget(6, 4);
    m_benchTable->setObjectName(QStringLiteral("benchTable"));
    m_benchTable->setHorizontalHeaderLabels({QStringLiteral("Description"), QStringLiteral("Time Required"),
                                             QStringLiteral("% of Total Time"), QStringLiteral("Time per Equation")});
    m_benchTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_benchTable->verticalHeader()->setVisible(false);
    const char *rows[6][2] = {
        {"Initialise", "Time required for setting up the Application for the specified number of Variables."},
        {"Generate Nos.", "Time required for calculating random numbers & setting them to the Application."},
        {"Save To File", "Time required for Saving the numbers to a File in Temporary Folder."},
        {"Open File", "Time required for Opening the Saved File & setting the numbers to the Application."},
        {"Solving Equations", "Time required for Solving the Equations."},
        {"Total Time (sec)", "Total Time required."},
    };
    for (int r = 0; r < 6; ++r) {
        auto *item = new QTableWidgetItem(QLatin1String(rows[r][0]));
        item->setToolTip(QLatin1String(rows[r][1]));
        m_benchTable->setItem(r, 0, item);
    }
    layout->addWidget(m_benchTable, 1);
    connect(start, &QPushButton::clicked, this, &Options::on_benchStartb_clicked);
    return page;
}

// ------------------------------------------------------------------ loading

void Options::load()
{
    m_restartWarned = false;
    m_dispCol->setValue(UserPrefs::getDisplayColumns());
    m_dispRow->setValue(UserPrefs::getDisplayRows());
    m_tol->setText(number6(UserPrefs::getTolerance()));
    m_comboUI->setCurrentIndex(UserPrefs::getFancyUI() ? 0 : 1);
    on_comboUI_currentIndexChanged(m_comboUI->currentIndex());
    m_undoCombo->setCurrentIndex(UserPrefs::getUndoEnabled() ? 0 : 1);
    m_debugCombo->setCurrentIndex(UserPrefs::getDebugEnabled() ? 0 : 1);
    m_openclCombo->setCurrentIndex(UserPrefs::getOpenCLEnabled() ? 0 : 1);
    m_coefWidth->setValue(UserPrefs::getListValue(UserPrefs::Widths, 0));
    m_coefHeight->setValue(UserPrefs::getListValue(UserPrefs::Heights, 0));
    m_varWidth->setValue(UserPrefs::getListValue(UserPrefs::Widths, 1));
    m_varHeight->setValue(UserPrefs::getListValue(UserPrefs::Heights, 1));
    m_varShape->setCurrentIndex(UserPrefs::getListValue(UserPrefs::VariableStyle, 0));
    m_varShadow->setCurrentIndex(UserPrefs::getListValue(UserPrefs::VariableStyle, 1));
    m_varLW->setValue(UserPrefs::getListValue(UserPrefs::VariableStyle, 2));
    m_varMLW->setValue(UserPrefs::getListValue(UserPrefs::VariableStyle, 3));
    m_plusWidth->setValue(UserPrefs::getListValue(UserPrefs::Widths, 2));
    m_plusHeight->setValue(UserPrefs::getListValue(UserPrefs::Heights, 2));
    m_plusShape->setCurrentIndex(UserPrefs::getListValue(UserPrefs::PlusStyle, 0));
    m_plusShadow->setCurrentIndex(UserPrefs::getListValue(UserPrefs::PlusStyle, 1));
    m_plusLW->setValue(UserPrefs::getListValue(UserPrefs::PlusStyle, 2));
    m_plusMLW->setValue(UserPrefs::getListValue(UserPrefs::PlusStyle, 3));
    updateExamples();

    const QList<int> limits = UserPrefs::getThreadLimits();
    if (!limits.isEmpty() && limits.first() == 0)
        on_optDefault_clicked(true);
    else
        refreshThreadTable();
    if (auto *link = findChild<QLabel *>(QStringLiteral("appDataLink"))) {
        const QString folder = Environment::tarvixFolder();
        link->setText(QStringLiteral("<a href=\"folder\">") + folder.toHtmlEscaped() + QStringLiteral("</a>"));
    }
    m_Applyb->setEnabled(false);
    on_impb_clicked();
    m_threadTable->horizontalHeader()->resizeSections(QHeaderView::ResizeToContents);
    m_benchTable->horizontalHeader()->resizeSections(QHeaderView::ResizeToContents);
}

void Options::setOptimiseBounds(int maxVariables, int budgetMs)
{
    m_optimiseMaxN = maxVariables;
    m_optimiseBudgetMs = budgetMs;
}

// ------------------------------------------------------------------- pages

void Options::showPage(QPushButton *pressed, QWidget *page, QWidget *subPage)
{
    QWidget *frame = m_pages;
    frame->setUpdatesEnabled(false);
    for (QPushButton *b : {m_impb, m_userDatab, m_optimiseb, m_benchmarkb, m_mainWindowb, m_textEditb,
                           m_variableb, m_plusb})
        b->setChecked(false);
    pressed->setChecked(true);
    if (subPage) {
        m_userDatab->setChecked(true);
        if (m_subPages->currentWidget() != subPage)
            m_subPages->setCurrentWidget(subPage);
    }
    if (m_pages->currentWidget() != page)
        m_pages->setCurrentWidget(page);
    frame->setUpdatesEnabled(true);
}

void Options::on_impb_clicked(bool)
{
    showPage(m_impb, m_impLinks, nullptr);
}

void Options::on_userDatab_clicked(bool)
{
    // The sub-page last shown stays; its button is checked with the group.
    QPushButton *sub = m_mainWindowb;
    QWidget *current = m_subPages->currentWidget();
    if (current == m_page3)
        sub = m_textEditb;
    else if (current == m_page4)
        sub = m_variableb;
    else if (current == m_page2)
        sub = m_plusb;
    showPage(m_userDatab, m_userData, current);
    if (sub->isEnabled())
        sub->setChecked(true);
}

void Options::on_optimiseb_clicked(bool)
{
    showPage(m_optimiseb, m_opt, nullptr);
}

void Options::on_benchmarkb_clicked(bool)
{
    showPage(m_benchmarkb, m_bench, nullptr);
}

void Options::on_mainWindowb_clicked(bool)
{
    showPage(m_mainWindowb, m_userData, m_page);
}

void Options::on_textEditb_clicked(bool)
{
    showPage(m_textEditb, m_userData, m_page3);
}

void Options::on_variableb_clicked(bool)
{
    showPage(m_variableb, m_userData, m_page4);
}

void Options::on_plusb_clicked(bool)
{
    showPage(m_plusb, m_userData, m_page2);
}

// ---------------------------------------------------------- change tracking

void Options::enableApply()
{
    if (!m_Applyb->isEnabled())
        m_Applyb->setEnabled(true);
}

void Options::MainWindowSpin_Changed(int)
{
    enableApply();
}

void Options::on_comboUI_currentIndexChanged(int index)
{
    // Those settings matter only for the field grid.
    const bool fancy = index == 0;
    m_dispColRow->setEnabled(fancy);
    m_dispRowRow->setEnabled(fancy);
    m_textEditb->setEnabled(fancy);
    m_variableb->setEnabled(fancy);
    m_plusb->setEnabled(fancy);
    enableApply();
}

void Options::updateExamples()
{
    m_coefExample->setFixedSize(m_coefWidth->value(), m_coefHeight->value());
    m_varExample->setFixedSize(m_varWidth->value(), m_varHeight->value());
    m_varExample->setFrameShape(shapeFor(m_varShape->currentIndex()));
    m_varExample->setFrameShadow(shadowFor(m_varShadow->currentIndex()));
    m_varExample->setLineWidth(m_varLW->value());
    m_varExample->setMidLineWidth(m_varMLW->value());
    m_plusExample->setFixedSize(m_plusWidth->value(), m_plusHeight->value());
    m_plusExample->setFrameShape(shapeFor(m_plusShape->currentIndex()));
    m_plusExample->setFrameShadow(shadowFor(m_plusShadow->currentIndex()));
    m_plusExample->setLineWidth(m_plusLW->value());
    m_plusExample->setMidLineWidth(m_plusMLW->value());
}

void Options::checkTolerance()
{
    const double v = parseDouble(m_tol->text());
    if (v >= 1e-15 && v <= 0.1)
        return;
    const QSignalBlocker block(m_tol);
    m_tol->setText(number6(UserPrefs::getTolerance()));
}

bool Options::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_tol && event->type() == QEvent::FocusOut)
        checkTolerance();
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------- defaults

void Options::on_DispColDefault_clicked()
{
    m_dispCol->setValue(UserPrefs::getDefaultPrefs(UserPrefs::Widths, 4));
    enableApply();
}

void Options::on_DispRowDefault_clicked()
{
    m_dispRow->setValue(UserPrefs::getDefaultPrefs(UserPrefs::Heights, 4));
    enableApply();
}

void Options::on_tolDefault_clicked()
{
    m_tol->setText(number6(UserPrefs::getDefaultTolerance()));
    enableApply();
}

void Options::on_coefWidthDefault_clicked()
{
    m_coefWidth->setValue(UserPrefs::getDefaultPrefs(UserPrefs::Widths, 1));
    m_coefHeight->setValue(UserPrefs::getDefaultPrefs(UserPrefs::Heights, 1));
    enableApply();
}

void Options::on_varSizeDefault_clicked()
{
    m_varWidth->setValue(UserPrefs::getDefaultPrefs(UserPrefs::Widths, 2));
    m_varHeight->setValue(UserPrefs::getDefaultPrefs(UserPrefs::Heights, 2));
    enableApply();
}

void Options::on_varStyleDefault_clicked()
{
    m_varShape->setCurrentIndex(UserPrefs::getDefaultPrefs(UserPrefs::VariableStyle, 1));
    m_varShadow->setCurrentIndex(UserPrefs::getDefaultPrefs(UserPrefs::VariableStyle, 2));
    enableApply();
}

void Options::on_varSStyleDefault_clicked()
{
    m_varLW->setValue(UserPrefs::getDefaultPrefs(UserPrefs::VariableStyle, 3));
    m_varMLW->setValue(UserPrefs::getDefaultPrefs(UserPrefs::VariableStyle, 4));
    enableApply();
}

void Options::on_plusSizeDefault_clicked()
{
    m_plusWidth->setValue(UserPrefs::getDefaultPrefs(UserPrefs::Widths, 3));
    m_plusHeight->setValue(UserPrefs::getDefaultPrefs(UserPrefs::Heights, 3));
    enableApply();
}

void Options::on_plusStyleDefault_clicked()
{
    m_plusShape->setCurrentIndex(UserPrefs::getDefaultPrefs(UserPrefs::PlusStyle, 1));
    m_plusShadow->setCurrentIndex(UserPrefs::getDefaultPrefs(UserPrefs::PlusStyle, 2));
    enableApply();
}

void Options::on_plusSStyleDefault_clicked()
{
    m_plusLW->setValue(UserPrefs::getDefaultPrefs(UserPrefs::PlusStyle, 3));
    m_plusMLW->setValue(UserPrefs::getDefaultPrefs(UserPrefs::PlusStyle, 4));
    enableApply();
}

// ------------------------------------------------------ OK, Cancel, Apply

void Options::on_Applyb_clicked()
{
    if (!m_restartWarned) {
        Prompter::instance()->message(
            Prompter::Warning, QStringLiteral("RESTART APPLICATION"),
            QStringLiteral("To apply the changed settings, please restart the application.\nIf you continue current session expect unknown behaviour which may lead to a crash!"),
            Prompter::Ok, Prompter::Ok);
        m_restartWarned = true;
    }
    UserPrefs::setDisplayColumns(m_dispCol->value());
    UserPrefs::setDisplayRows(m_dispRow->value());
    UserPrefs::setTolerance(parseDouble(m_tol->text()));
    UserPrefs::setFancyUI(m_comboUI->currentIndex() == 0);
    UserPrefs::setUndoEnabled(m_undoCombo->currentIndex() == 0);
    UserPrefs::setDebugEnabled(m_debugCombo->currentIndex() == 0);
    UserPrefs::setOpenCLEnabled(m_openclCombo->currentIndex() == 0);
    UserPrefs::setListValue(UserPrefs::Widths, 0, m_coefWidth->value());
    UserPrefs::setListValue(UserPrefs::Heights, 0, m_coefHeight->value());
    UserPrefs::setListValue(UserPrefs::Widths, 1, m_varWidth->value());
    UserPrefs::setListValue(UserPrefs::Heights, 1, m_varHeight->value());
    UserPrefs::setListValue(UserPrefs::VariableStyle, 0, m_varShape->currentIndex());
    UserPrefs::setListValue(UserPrefs::VariableStyle, 1, m_varShadow->currentIndex());
    UserPrefs::setListValue(UserPrefs::VariableStyle, 2, m_varLW->value());
    UserPrefs::setListValue(UserPrefs::VariableStyle, 3, m_varMLW->value());
    UserPrefs::setListValue(UserPrefs::Widths, 2, m_plusWidth->value());
    UserPrefs::setListValue(UserPrefs::Heights, 2, m_plusHeight->value());
    UserPrefs::setListValue(UserPrefs::PlusStyle, 0, m_plusShape->currentIndex());
    UserPrefs::setListValue(UserPrefs::PlusStyle, 1, m_plusShadow->currentIndex());
    UserPrefs::setListValue(UserPrefs::PlusStyle, 2, m_plusLW->value());
    UserPrefs::setListValue(UserPrefs::PlusStyle, 3, m_plusMLW->value());
    m_savedLimits.clear();
    m_Applyb->setEnabled(false);
}

void Options::on_OKb_clicked()
{
    if (!m_Applyb->isEnabled())
        m_restartWarned = true;
    on_Applyb_clicked();
    accept();
}

void Options::on_Cancelb_clicked()
{
    reject();
}

void Options::reject()
{
    // Closing the dialog any way but OK drops what the optimise page did
    // since the last Apply.
    if (!m_savedLimits.isEmpty()) {
        UserPrefs::setThreadLimits(m_savedLimits);
        m_savedLimits.clear();
    }
    QDialog::reject();
}

// ------------------------------------------------------------------- links

void Options::openWebPage(const QString &address)
{
    if (address.isEmpty() || !QDesktopServices::openUrl(QUrl(address)))
        qWarning("%s", qPrintable(QStringLiteral("URL: ") + address + QStringLiteral(" is not Valid!")));
}

void Options::on_appDataLink_linkActivated(const QString &)
{
    const QString folder = Environment::tarvixFolder();
    const QUrl url = QUrl::fromLocalFile(folder);
    if (!QDesktopServices::openUrl(url))
        qWarning("%s", qPrintable(QStringLiteral("URL: ") + url.toString() + QStringLiteral(" is not Valid!")));
}

// The program has no web pages of its own: these rows stay hidden and
// their slots only report that there is nothing to open.
void Options::on_updatesLink_linkActivated(const QString &link)
{
    openWebPage(link);
}

void Options::on_bugsLink_linkActivated(const QString &link)
{
    openWebPage(link);
}

void Options::on_blogLink_linkActivated(const QString &link)
{
    openWebPage(link);
}

void Options::on_moreLink_linkActivated(const QString &link)
{
    openWebPage(link);
}

void Options::on_socialLink_linkActivated(const QString &link)
{
    openWebPage(link);
}

// ----------------------------------------------------------- optimise page

void Options::keepLimitsCopy()
{
    if (m_savedLimits.isEmpty())
        m_savedLimits = UserPrefs::getThreadLimits();
}

void Options::refreshThreadTable()
{
    const QList<int> limits = UserPrefs::getThreadLimits();
    const int p = limits.size();
    m_threadTable->setRowCount(p);
    for (int i = 0; i < p; ++i) {
        const int from = i == 0 ? 0 : limits.at(i - 1) + 1;
        m_threadTable->setItem(i, 0, new QTableWidgetItem(QString::number(from)));
        m_threadTable->setItem(i, 1, new QTableWidgetItem(QString::number(i + 1)));
        m_threadTable->setItem(i, 2, new QTableWidgetItem(i == p - 1 ? QStringLiteral("Infinity")
                                                                     : QString::number(limits.at(i))));
    }
    m_threadTable->horizontalHeader()->resizeSections(QHeaderView::ResizeToContents);
}

void Options::on_optDefault_clicked(bool flag)
{
    if (!flag)
        keepLimitsCopy();
    QList<int> limits = UserPrefs::getThreadLimits();
    for (int t = 0; t < limits.size(); ++t)
        limits[t] = 5 * (t + 1);
    UserPrefs::setThreadLimits(limits);
    // The solver reads the limits at every solve: no restart, no Apply.
    if (!flag)
        m_boundNote->setVisible(false);
    refreshThreadTable();
}

void Options::on_optb_clicked(bool flag)
{
    if (!flag) {
        // The optimising window is a window of the list; without another
        // one open its end would take the shared objects with it.
        if (tarvix::windows().isEmpty())
            return;
        keepLimitsCopy();
        QMessageBox *box = waitBox(this, QStringLiteral("Optimising no. of Threads"),
                                   QStringLiteral("Please wait while Tarvix is determining the Optimum no. of Threads.\n"));
        auto *w = new tarvix();
        w->setAttribute(Qt::WA_DontShowOnScreen);
        const bool bounded = w->optimiseThreads(m_optimiseMaxN, m_optimiseBudgetMs);
        delete w;
        box->hide();
        delete box;
        if (bounded) {
            m_boundNote->setText(QStringLiteral("The optimisation stopped at its limit (%1 variables or %2 seconds): "
                                                "the thresholds found are kept, the others follow the default "
                                                "spacing of 5 equations.")
                                     .arg(m_optimiseMaxN)
                                     .arg(m_optimiseBudgetMs / 1000.0));
        }
        m_boundNote->setVisible(bounded);
    }
    refreshThreadTable();
}

// ---------------------------------------------------------- benchmark page

QString Options::benchmarkCopyName(const QString &given, bool binary)
{
    QString name = given;
    if (name.contains(QLatin1String(".trx")) || name.contains(QLatin1String(".btrx")))
        name.truncate(name.lastIndexOf(QLatin1Char('.')));
    return name + (binary ? QStringLiteral(".btrx") : QStringLiteral(".trx"));
}

void Options::fillBenchTable(const QList<int> &times, int n)
{
    double secs[5];
    double total = 0.0;
    double perTotal = 0.0;
    for (int i = 0; i < 5; ++i) {
        secs[i] = times.at(i) / 1000.0;
        total += secs[i];
    }
    for (int i = 0; i < 5; ++i) {
        const double per = secs[i] / n;
        perTotal += per;
        // A run too short for the clock has no shares to give.
        const double share = total > 0.0 ? secs[i] * 100 / total : 0.0;
        m_benchTable->setItem(i, 1, new QTableWidgetItem(number6(secs[i])));
        m_benchTable->setItem(i, 2, new QTableWidgetItem(number6(share)));
        m_benchTable->setItem(i, 3, new QTableWidgetItem(number6(per)));
    }
    m_benchTable->setItem(5, 1, new QTableWidgetItem(number6(total)));
    m_benchTable->setItem(5, 2, new QTableWidgetItem(QString()));
    m_benchTable->setItem(5, 3, new QTableWidgetItem(number6(perTotal)));
    m_benchTable->horizontalHeader()->resizeSections(QHeaderView::ResizeToContents);
}

void Options::on_benchStartb_clicked()
{
    const int n = parseInt(m_benchLE->text());
    if (n <= 1)
        return;
    const bool binary = m_fileType->currentIndex() == 1;
    const bool simple = m_benchUI->currentIndex() == 0;
    if (simple && tarvix::windows().isEmpty())
        return;

    QMessageBox *box = waitBox(this, QStringLiteral("Benchmarking Tarvix"),
                               QStringLiteral("Please wait while Tarvix is performing the Benchmark.\n"));
    QList<int> times;
    QString file;
    const bool allocated = EquationStore::memoryCheck(n);
    if (allocated) {
        auto *w = new tarvix(QString(), !simple);
        if (simple) {
            w->setAttribute(Qt::WA_DontShowOnScreen);
            w->benchmark(n, binary, &times, &file);
        } else {
            w->benchmarkStealth(n, binary, &times, &file);
        }
        delete w;
    }
    box->hide();
    delete box;
    // A refused allocation, or a cycle that could not write or read its
    // file (the window has said why), leaves no results and no file.
    if (!allocated || times.size() != 5) {
        if (!file.isEmpty()) {
            QFile::remove(file);
            QFile::remove(file + QStringLiteral(".old"));
        }
        return;
    }
    fillBenchTable(times, n);

    const int answer = Prompter::instance()->message(
        Prompter::Information, QStringLiteral("Save Benchmark File?"),
        QStringLiteral("Benchmark Successful!\nWould you like to have a copy of the benchmark file?"),
        Prompter::Yes | Prompter::No, Prompter::Yes);
    if (answer == Prompter::Yes) {
        const QString filter = binary ? QStringLiteral("Tarvix Binary (*.btrx)") : QStringLiteral("Tarvix Text (*.trx)");
        QString selected = filter;
        const QString given = Prompter::instance()->saveFile(QStringLiteral("Save File As"),
                                                             UserPrefs::getTempFolder(), filter, &selected);
        if (!given.isEmpty()) {
            const QString target = benchmarkCopyName(given, selected.contains(QLatin1String(".btrx")));
            if (target != file) {
                // Another file of that name goes only when the user says so,
                // and only for a complete copy.
                const bool replace =
                    !QFileInfo::exists(target)
                    || Prompter::instance()->message(
                           Prompter::Warning, QStringLiteral("File already exists!"),
                           QStringLiteral("There already exists a file with the same name -> ") + target
                               + QStringLiteral(".\nWould you like to replace it?"),
                           Prompter::Yes | Prompter::No, Prompter::No)
                           == Prompter::Yes;
                const AtomicFile::Result copied =
                    replace ? AtomicFile::copy(file, target)
                            : AtomicFile::Result{true, AtomicFile::Result::None, QString()};
                if (!copied.ok) {
                    Prompter::instance()->message(Prompter::Critical, QStringLiteral("Failure Copying File!"),
                                                  QStringLiteral("Could not copy the file: ") + file
                                                      + QStringLiteral(".\nPlease try copying manually!\n")
                                                      + copied.error,
                                                  Prompter::Ok, Prompter::Ok);
                    // The box asks for a copy by hand: the file stays for it.
                    QFile::remove(file + QStringLiteral(".old"));
                    return;
                }
            } else {
                // The copy is the file itself: keep it.
                QFile::remove(file + QStringLiteral(".old"));
                return;
            }
        }
    }
    QFile::remove(file);
    QFile::remove(file + QStringLiteral(".old"));
}
