#include "solverdialog.h"

#include "opencl/pluginhost.h"
#include "prefs/userprefs.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibrary>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QGroupBox *solverGroup(const QString &title, const QStringList &lines, QPushButton *button)
{
    auto *group = new QGroupBox(title);
    auto *layout = new QHBoxLayout(group);
    auto *text = new QLabel(QStringLiteral("- ") + lines.join(QStringLiteral("\n- ")));
    layout->addWidget(text, 1);
    layout->addWidget(button);
    return group;
}

}

SolverDialog::SolverDialog(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setWindowTitle(QStringLiteral("Choose the Solver"));
    m_multib = new QPushButton(QStringLiteral("Solve"));
    m_multib->setObjectName(QStringLiteral("multib"));
    m_openclb = new QPushButton(QStringLiteral("Solve"));
    m_openclb->setObjectName(QStringLiteral("openclb"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(solverGroup(QStringLiteral("Multi-threaded CPU Solver:"),
                                  {QStringLiteral("Computation performed on CPU only"),
                                   QStringLiteral("Thread management through C++ code and Qt API"),
                                   QStringLiteral("Stable and reliable solver")},
                                  m_multib));
    layout->addWidget(solverGroup(QStringLiteral("OpenCL Solver:"),
                                  {QStringLiteral("Computation performed on multiple devices like GPU, CPU, etc."),
                                   QStringLiteral("Thread management done by OpenCL runtime"),
                                   QStringLiteral("Experimental solver")},
                                  m_openclb));
    m_multib->setDefault(true);

    const bool loads = openCLLibraryLoads();
    const QString noDrivers = QStringLiteral("Could not find OpenCL drivers for your PC.");
    if (UserPrefs::getOpenCLEnabled()) {
        const QString missing = openCLUnavailable();
        if (!missing.isEmpty()) {
            m_openclb->setEnabled(false);
            m_openclb->setToolTip(missing);
        }
    } else {
        m_openclb->setToolTip(loads ? QStringLiteral("You have disabled this feature. Go to Tools->Options->User Data to enable Hardware Acceleration using OpenCL.")
                                    : noDrivers);
        m_openclb->setEnabled(false);
    }
    QMetaObject::connectSlotsByName(this);
}

bool SolverDialog::openCLLibraryLoads()
{
    return PluginHost::openCLLibraryLoads();
}

QString SolverDialog::openCLUnavailable(const QString &pluginPath)
{
    if (!openCLLibraryLoads())
        return QStringLiteral("Could not find OpenCL drivers for your PC.");
    PluginHost host;
    if (!host.loadPlugin(pluginPath))
        return QStringLiteral("The OpenCL plugin could not be loaded from %1.")
            .arg(pluginPath.isEmpty() ? PluginHost::defaultPluginPath() : pluginPath);
    QList<QStringList> lists;
    if (!host.deviceInfo(&lists))
        return QStringLiteral("The OpenCL drivers report no usable device.");
    return QString();
}

int SolverDialog::getResult() const
{
    switch (m_choice) {
    case 0:
        return 1;
    case 1:
        return 2;
    default:
        return 0;
    }
}

void SolverDialog::on_multib_clicked()
{
    m_choice = 0;
    accept();
}

void SolverDialog::on_openclb_clicked()
{
    m_choice = 1;
    accept();
}
