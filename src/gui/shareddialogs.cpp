#include "shareddialogs.h"

#include "about/aboutdialog.h"
#include "editdialog.h"
#include "options/options.h"

namespace {
EditDialog *g_edit = nullptr;
AboutDialog *g_about = nullptr;
Options *g_options = nullptr;
QStringList *g_copyBuffer = nullptr;

template <class D>
void make(D *&dialog, UserPrefs::Window where)
{
    if (dialog)
        return;
    dialog = new D();
    SharedDialogs::place(dialog, where);
}
} // namespace

namespace SharedDialogs {

void create()
{
    make(g_edit, UserPrefs::EditWindow);
    make(g_about, UserPrefs::AboutWindow);
    make(g_options, UserPrefs::OptionsWindow);
    if (!g_copyBuffer)
        g_copyBuffer = new QStringList();
}

EditDialog *edit() { return g_edit; }
AboutDialog *about() { return g_about; }
Options *options() { return g_options; }
QStringList *copyBuffer() { return g_copyBuffer; }

void storeGeometry()
{
    store(g_edit, UserPrefs::EditWindow);
    store(g_about, UserPrefs::AboutWindow);
    store(g_options, UserPrefs::OptionsWindow);
}

void destroy()
{
    delete g_copyBuffer;
    g_copyBuffer = nullptr;
    delete g_edit;
    g_edit = nullptr;
    delete g_about;
    g_about = nullptr;
    delete g_options;
    g_options = nullptr;
}

void place(QWidget *w, UserPrefs::Window where)
{
    const auto g = UserPrefs::getGeometry(where);
    w->move(g[0], g[1]);
    if (g[2] > 0 && g[3] > 0)
        w->resize(g[2], g[3]);
}

void store(const QWidget *w, UserPrefs::Window where)
{
    if (!w)
        return;
    const int geo[4] = {w->x(), w->y(), w->width(), w->height()};
    UserPrefs::setGeometry(where, geo);
}

} // namespace SharedDialogs
