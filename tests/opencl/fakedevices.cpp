// A stand-in OpenCL plugin with three made-up devices. It records the
// device list the host chose in the property "customDevices" of its root
// object and reports set-up success unless that list holds device 1.
#include "plugininterface.h"

#include <QFile>
#include <QObject>
#include <QVariant>

class FakeDevices : public QObject, public PluginInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID PluginInterface_iid)
    Q_INTERFACES(PluginInterface)
public:
    void release() override { setProperty("released", true); }
    void getDeviceInfo(QList<QStringList *> *lists) override
    {
        *lists << new QStringList{QStringLiteral("Alpha GPU"), QStringLiteral("Vendor A"), QStringLiteral("GPU"),
                                  QStringLiteral("1500"), QStringLiteral("8000"), QStringLiteral("40"),
                                  QStringLiteral("Good")};
        *lists << new QStringList{QStringLiteral("Beta CPU"), QStringLiteral("Vendor B"), QStringLiteral("CPU"),
                                  QStringLiteral("3000"), QStringLiteral("16000"), QStringLiteral("8"),
                                  QStringLiteral("Bad")};
        *lists << new QStringList{QStringLiteral("Gamma"), QStringLiteral("Vendor C"), QStringLiteral("Accelerator"),
                                  QStringLiteral("900"), QStringLiteral("2000"), QStringLiteral("4"),
                                  QStringLiteral("good")};
    }
    void setCustomDevices(QList<int> *list, QFile *clFile, bool *result) override
    {
        QVariantList chosen;
        for (int i : *list)
            chosen << i;
        setProperty("customDevices", chosen);
        // The kernel source must be readable where the host says it is.
        setProperty("sourceFound", clFile && clFile->exists());
        if (list->contains(1))
            *result = false;
    }
    void initialise(double **, double *, double **, double **, int, QList<int> *, QThread *) override {}
    void calcURatios(bool *result) override { *result = false; }
    void getError(QString *title, QString *text, QString *type) override
    {
        *title = QStringLiteral("Fake title");
        *text = QStringLiteral("Fake text");
        *type = QStringLiteral("CRITICAL");
    }
};

#include "fakedevices.moc"
