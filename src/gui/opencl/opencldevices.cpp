#include "opencldevices.h"

#include "opencl/pluginhost.h"
#include "prefs/userprefs.h"
#include "prompt/prompter.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMessageLogger>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

OpenCLDevices::OpenCLDevices(QWidget *parent)
    : QDialog(parent, Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_host(new PluginHost(this))
{
    setWindowTitle(QStringLiteral("Select Computation Devices"));
    auto *layout = new QVBoxLayout(this);
    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setTextFormat(Qt::RichText);
    m_label->setText(QStringLiteral("Select the devices on which you would like to perform the computation using "
                                    "<a href=\"https://www.khronos.org/opencl/\"><span style=\"text-decoration: "
                                    "underline; color:#0000ff;\">OpenCL</span></a> technology:"));
    m_label->setWordWrap(true);
    layout->addWidget(m_label);

    m_table = new QTableWidget(this);
    m_table->setObjectName(QStringLiteral("tableWidget"));
    m_table->setColumnCount(8);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::MultiSelection);
    m_table->setSortingEnabled(true);
    m_table->verticalHeader()->setVisible(false);
    layout->addWidget(m_table);

    auto *note = new QLabel(QStringLiteral("*  Each compute unit of a CPU is capable of performing around 2 or 4 "
                                           "parallel computations while the compute unit of a GPU is capable of "
                                           "many hundreds of parallel computations."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);

    // The engine, kept in the preferences for the next solve.
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Engine:"), this));
    m_engine = new QComboBox(this);
    m_engine->setObjectName(QStringLiteral("engineCombo"));
    m_engine->addItems({QStringLiteral("blocked (fast)"), QStringLiteral("step by step (as before)")});
    m_engine->setToolTip(QStringLiteral("Blocked: the whole system on the devices, for speed. Step by step: "
                                        "each column's elimination on the devices, the rest on the processor."));
    m_engine->setCurrentIndex(UserPrefs::getOpenCLStepwise() ? 1 : 0);
    connect(m_engine, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [](int index) { UserPrefs::setOpenCLStepwise(index == 1); });
    bottom->addWidget(m_engine);
    bottom->addStretch(1);
    m_okb = new QPushButton(QStringLiteral("OK"), this);
    m_okb->setObjectName(QStringLiteral("okb"));
    m_okb->setEnabled(false);
    m_okb->setAutoDefault(false);
    bottom->addWidget(m_okb);
    layout->addLayout(bottom);

    QMetaObject::connectSlotsByName(this);
    // Closing the dialog (Escape) chooses nothing.
    connect(this, &QDialog::rejected, m_table, &QTableWidget::clearSelection);
    m_host->setErrorReceiver(this);
    resize(760, 320);
}

bool OpenCLDevices::stepwise() const
{
    return m_engine->currentIndex() == 1;
}

OpenCLDevices::~OpenCLDevices()
{
    // m_host is a child: it releases and unloads the plugin as it goes.
}

bool OpenCLDevices::loadPlugin(const QString &path)
{
    return m_host->loadPlugin(path);
}

void OpenCLDevices::fillTable(const QList<QStringList> &lists)
{
    m_table->clear();
    m_table->setRowCount(lists.size());
    m_table->setSortingEnabled(false);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Sr. No."), QStringLiteral("Name"), QStringLiteral("Vendor"),
                                        QStringLiteral("Type"), QStringLiteral("Speed(MHz)"),
                                        QStringLiteral("Memory(MB)"), QStringLiteral("Compute Units*"),
                                        QStringLiteral("Accuracy")});
    for (int i = 0; i < lists.size(); ++i) {
        auto *number = new QTableWidgetItem;
        number->setData(Qt::DisplayRole, i + 1); // sorts as a number
        number->setTextAlignment(Qt::AlignCenter);
        m_table->setItem(i, 0, number);
        const QStringList &l = lists.at(i);
        for (int c = 0; c < 7 && c < l.size(); ++c) {
            auto *item = new QTableWidgetItem(l.at(c));
            item->setTextAlignment(Qt::AlignCenter);
            m_table->setItem(i, c + 1, item);
        }
        if (QTableWidgetItem *last = m_table->item(i, 7)) {
            const bool good = last->text().compare(QLatin1String("good"), Qt::CaseInsensitive) == 0;
            last->setBackground(good ? QColor(Qt::green) : QColor(Qt::red));
        }
    }
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(0, Qt::AscendingOrder);
    // Sized with the sort indicator showing; the user may resize afterwards.
    m_table->horizontalHeader()->resizeSections(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->clearSelection();
    // Wide enough for every column where the screen allows.
    const int wanted = m_table->horizontalHeader()->length() + m_table->frameWidth() * 2 + 40;
    if (wanted > width())
        resize(qMin(wanted, 1400), height());
}

QList<int> OpenCLDevices::selectedDevices()
{
    m_table->sortByColumn(0, Qt::AscendingOrder);
    QList<int> rows;
    for (int i = 0; i < m_table->rowCount(); ++i) {
        const QTableWidgetItem *first = m_table->item(i, 0);
        if (first && first->isSelected())
            rows << i;
    }
    return rows;
}

bool OpenCLDevices::selectDevices()
{
    QList<QStringList> lists;
    if (!m_host->deviceInfo(&lists))
        return false;
    fillTable(lists);
    exec();
    const QList<int> chosen = selectedDevices();
    close();
    if (chosen.isEmpty())
        return false;
    return m_host->setCustomDevices(chosen);
}

void OpenCLDevices::initialiseGPU(double **c, double *r, double **ur, double **dr, int n, QList<int> *diag,
                                  QThread *t)
{
    m_host->initialiseGPU(c, r, ur, dr, n, diag, t);
}

void OpenCLDevices::calcURatios(bool *res)
{
    // A failure's error triple comes back to errMsg on this object's thread.
    m_host->calcURatios(res);
}

void OpenCLDevices::errMsg(QString *errTitle, QString *errTxt, QString errorType)
{
    const Prompter::Icon icon = Prompter::iconForType(errorType);
    Prompter::instance()->message(icon, errTitle ? *errTitle : QString(), errTxt ? *errTxt : QString(),
                                  Prompter::Ok, Prompter::Ok);
    delete errTitle;
    delete errTxt;
}

void OpenCLDevices::on_okb_clicked()
{
    accept();
}

void OpenCLDevices::on_tableWidget_itemSelectionChanged()
{
    bool any = false;
    for (int i = 0; i < m_table->rowCount() && !any; ++i) {
        const QTableWidgetItem *first = m_table->item(i, 0);
        any = first && first->isSelected();
    }
    m_okb->setEnabled(any);
}

void OpenCLDevices::on_label_linkActivated(const QString &link)
{
    if (!QDesktopServices::openUrl(QUrl(link)))
        QMessageLogger("opencldevices", 294, "void OpenCLDevices::on_label_linkActivated(const QString&)")
            .warning("%s", qPrintable(QStringLiteral("URL: ") + link + QStringLiteral(" is not Valid!")));
}
