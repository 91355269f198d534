// A Qt plugin of an interface Tarvix does not know: loading it as the
// OpenCL plugin must fail cleanly.
#include <QObject>
#include <QtPlugin>

class OtherInterface
{
public:
    virtual ~OtherInterface() = default;
    virtual int answer() = 0;
};
Q_DECLARE_INTERFACE(OtherInterface, "app.tarvix.Tarvix.OtherInterface/1.0")

class WrongPlugin : public QObject, public OtherInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "app.tarvix.Tarvix.OtherInterface/1.0")
    Q_INTERFACES(OtherInterface)
public:
    int answer() override { return 42; }
};

#include "wronginterface.moc"
