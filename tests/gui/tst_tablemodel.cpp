// The equation table: model rules, text form, resizes and the delegate.
#include "mydelegate.h"
#include "mytablemodel.h"
#include "testenv.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include <vector>

namespace {

// Arrays laid out like a window's store.
struct Arrays
{
    explicit Arrays(int n) : n(n), rows(size_t(n)), data(size_t(n) * size_t(n)), rhs(size_t(n))
    {
        for (int i = 0; i < n; ++i)
            rows[size_t(i)] = data.data() + size_t(i) * size_t(n);
    }
    int n;
    std::vector<double *> rows;
    std::vector<double> data;
    std::vector<double> rhs;
};

}

class TableModelTest : public QObject
{
    Q_OBJECT
private slots:
    void headersAndFlags();
    void modelTesterThroughResizes();
    void resizeInsertsAtTheRightPlaces();
    void setDataRules_data();
    void setDataRules();
    void lockedModelReadsNothing();
    void tableTextRoundTrip();
    void setTableDataTolerance();
    void setCellData();
    void delegateCommits_data();
    void delegateCommits();
    void typingIntoTheView();
};

void TableModelTest::headersAndFlags()
{
    Arrays a(3);
    MyTableModel m;
    m.resize(3, a.rows.data(), a.rhs.data());
    QStringList h;
    for (int c = 0; c < m.columnCount(); ++c)
        h << m.headerData(c, Qt::Horizontal).toString();
    QCOMPARE(h, QStringList({"X1", "X2", "X3", "=", "R.H.S."}));
    QStringList v;
    for (int r = 0; r < m.rowCount(); ++r)
        v << m.headerData(r, Qt::Vertical).toString();
    QCOMPARE(v, QStringList({"1", "2", "3"}));
    QVERIFY(!m.headerData(5, Qt::Horizontal).isValid());
    QVERIFY(!m.headerData(3, Qt::Vertical).isValid());
    QCOMPARE(m.headerData(0, Qt::Vertical, Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignRight | Qt::AlignVCenter));

    for (int r = 0; r < 3; ++r) {
        QCOMPARE(m.data(m.index(r, 3)).toString(), QString("="));
        QCOMPARE(m.flags(m.index(r, 3)), Qt::NoItemFlags);
        QVERIFY(m.flags(m.index(r, 4)) & Qt::ItemIsEditable);
        QVERIFY(m.flags(m.index(r, 0)) & Qt::ItemIsSelectable);
    }
    // The edit role gives nothing: editors start from the display text.
    QVERIFY(!m.data(m.index(0, 0), Qt::EditRole).isValid());
    QCOMPARE(m.data(m.index(0, 0), Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
}

void TableModelTest::modelTesterThroughResizes()
{
    Arrays a(2), b(5), c(3);
    MyTableModel m;
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m.resize(2, a.rows.data(), a.rhs.data());
    m.resize(5, b.rows.data(), b.rhs.data());
    m.resize(3, c.rows.data(), c.rhs.data());
    m.setData(m.index(1, 1), "2.5");
    m.resize(0, nullptr, nullptr);
    QCOMPARE(m.rowCount(), 0);
    QCOMPARE(m.columnCount(), 0);
}

void TableModelTest::resizeInsertsAtTheRightPlaces()
{
    Arrays a(2), b(3);
    MyTableModel m;
    QSignalSpy cols(&m, &QAbstractItemModel::columnsInserted);
    QSignalSpy rows(&m, &QAbstractItemModel::rowsInserted);
    QSignalSpy colsGone(&m, &QAbstractItemModel::columnsRemoved);
    QSignalSpy rowsGone(&m, &QAbstractItemModel::rowsRemoved);
    m.resize(2, a.rows.data(), a.rhs.data());
    QCOMPARE(cols.takeFirst().mid(1), QVariantList({0, 3}));
    QCOMPARE(rows.takeFirst().mid(1), QVariantList({0, 1}));
    m.resize(3, b.rows.data(), b.rhs.data());
    QCOMPARE(cols.takeFirst().mid(1), QVariantList({4, 4}));
    QCOMPARE(rows.takeFirst().mid(1), QVariantList({2, 2}));
    m.resize(2, a.rows.data(), a.rhs.data());
    QCOMPARE(rowsGone.takeFirst().mid(1), QVariantList({2, 2}));
    QCOMPARE(colsGone.takeFirst().mid(1), QVariantList({4, 4}));
    QCOMPARE(m.columnCount(), 4);
    QCOMPARE(m.rowCount(), 2);
}

void TableModelTest::setDataRules_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("stored");

    QTest::newRow("coefficient") << 1 << 0 << "-2.5" << true << -2.5;
    QTest::newRow("rhs") << 0 << 3 << "7" << true << 7.0;
    QTest::newRow("exponent") << 1 << 1 << "1.5e-3" << true << 1.5e-3;
    QTest::newRow("plus sign") << 0 << 1 << "+4" << true << 4.0;
    QTest::newRow("blanks") << 0 << 1 << " 3 " << true << 3.0;
    QTest::newRow("text") << 0 << 0 << "abc" << false << 0.0;
    QTest::newRow("empty") << 0 << 0 << "" << false << 0.0;
    QTest::newRow("bare exponent") << 0 << 0 << "1e" << false << 0.0;
    QTest::newRow("double minus") << 0 << 0 << "--3" << false << 0.0;
    QTest::newRow("overflow") << 0 << 0 << "1e999" << false << 0.0;
    QTest::newRow("inf") << 0 << 0 << "inf" << false << 0.0;
    QTest::newRow("nan") << 0 << 0 << "nan" << false << 0.0;
    QTest::newRow("trailing junk") << 0 << 0 << "3x" << false << 0.0;
    QTest::newRow("equals column") << 0 << 2 << "5" << false << 0.0;
}

void TableModelTest::setDataRules()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(double, stored);

    Arrays a(2);
    MyTableModel m;
    m.resize(2, a.rows.data(), a.rhs.data());
    // The receiver must still see the old value when cellChanged arrives.
    double seenBefore = -1.0;
    connect(&m, &MyTableModel::cellChanged, this, [&](int r, int c, const QString &) {
        seenBefore = c == 3 ? a.rhs[size_t(r)] : a.rows[size_t(r)][c];
    }, Qt::DirectConnection);
    QSignalSpy changed(&m, &MyTableModel::cellChanged);
    QSignalSpy data(&m, &QAbstractItemModel::dataChanged);

    QCOMPARE(m.setData(m.index(row, column), text, Qt::EditRole), accepted);
    QCOMPARE(m.setData(m.index(row, column), text, Qt::DisplayRole), false);
    if (accepted) {
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.first().at(2).toString(), text);
        QCOMPARE(seenBefore, 0.0);
        QCOMPARE(data.size(), 1);
        QCOMPARE(data.first().at(0).toModelIndex(), m.index(row, column));
        const double v = column == 3 ? a.rhs[size_t(row)] : a.rows[size_t(row)][column];
        QCOMPARE(v, stored);
    } else {
        QCOMPARE(changed.size(), 0);
        QCOMPARE(data.size(), 0);
        for (double v : a.data)
            QCOMPARE(v, 0.0);
        for (double v : a.rhs)
            QCOMPARE(v, 0.0);
    }
}

void TableModelTest::lockedModelReadsNothing()
{
    Arrays a(2);
    a.rows[0][0] = 9.0;
    MyTableModel m;
    m.resize(2, a.rows.data(), a.rhs.data());
    QCOMPARE(m.data(m.index(0, 0)).toDouble(), 9.0);
    m.lock();
    QVERIFY(!m.data(m.index(0, 0)).isValid());
    QVERIFY(!m.setData(m.index(0, 0), "1"));
    QCOMPARE(a.rows[0][0], 9.0);
    m.resize(2, a.rows.data(), a.rhs.data());
    QVERIFY(!m.isLocked());
    QCOMPARE(m.data(m.index(0, 0)).toDouble(), 9.0);
}

void TableModelTest::tableTextRoundTrip()
{
    Arrays a(2);
    a.rows[0][0] = 1; a.rows[0][1] = 2; a.rhs[0] = 3;
    a.rows[1][0] = 4; a.rows[1][1] = 5; a.rhs[1] = 6;
    MyTableModel m;
    m.resize(2, a.rows.data(), a.rhs.data());
    QString s;
    m.getTableData(&s);
    QCOMPARE(s, QString("1 2 3 ;4 5 6 "));

    Arrays b(3);
    const double values[] = {0.1, -1e-300, 123456789012345678.0, 1.0 / 3.0, 2e15, -0.0, 5e-324, 7, 8};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            b.rows[size_t(i)][j] = values[i * 3 + j];
        b.rhs[size_t(i)] = values[8 - i] * 3;
    }
    MyTableModel m3;
    m3.resize(3, b.rows.data(), b.rhs.data());
    QString t;
    m3.getTableData(&t);
    QVERIFY(t.startsWith("0.1 -1e-300 1.23456789012346e+17 "));
    Arrays c(3);
    MyTableModel back;
    back.resize(3, c.rows.data(), c.rhs.data());
    back.setTableData(&t);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            QVERIFY(fuzzyEqual(c.rows[size_t(i)][j], b.rows[size_t(i)][j], 1e-14));
        QVERIFY(fuzzyEqual(c.rhs[size_t(i)], b.rhs[size_t(i)], 1e-14));
    }
}

void TableModelTest::setTableDataTolerance()
{
    Arrays a(2);
    a.rows[1][1] = 42;
    MyTableModel m;
    m.resize(2, a.rows.data(), a.rhs.data());
    // Extra values and blanks are skipped, junk reads as zero, missing rows stay.
    QString s("1  x 3 99 99;;");
    m.setTableData(&s);
    QCOMPARE(a.rows[0][0], 1.0);
    QCOMPARE(a.rows[0][1], 0.0);
    QCOMPARE(a.rhs[0], 3.0);
    QCOMPARE(a.rows[1][1], 42.0);
    QVERIFY(!m.isLocked());
}

void TableModelTest::setCellData()
{
    Arrays a(2);
    MyTableModel m;
    m.resize(2, a.rows.data(), a.rhs.data());
    QSignalSpy data(&m, &QAbstractItemModel::dataChanged);
    m.setCellData(1, 0, 4.5);
    m.setCellData(0, 2, 8.0);   // column N or beyond: the right-hand side
    m.setCellData(5, 0, 1.0);   // outside: ignored
    QCOMPARE(a.rows[1][0], 4.5);
    QCOMPARE(a.rhs[0], 8.0);
    QCOMPARE(data.size(), 0);
    QVERIFY(!m.isLocked());
}

void TableModelTest::delegateCommits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("changes");
    QTest::addColumn<bool>("logsMD1");
    QTest::newRow("number") << "12.5" << true << false;
    QTest::newRow("same text") << "3" << false << false;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("bare exponent") << "1e" << false << true;
    QTest::newRow("double minus") << "--3" << false << true;
}

void TableModelTest::delegateCommits()
{
    QFETCH(QString, text);
    QFETCH(bool, changes);
    QFETCH(bool, logsMD1);
    Arrays a(2);
    a.rows[0][1] = 3;
    MyTableModel m;
    m.resize(2, a.rows.data(), a.rhs.data());
    MyDelegate d;
    QWidget parent;
    const QModelIndex index = m.index(0, 1);
    QWidget *editor = d.createEditor(&parent, QStyleOptionViewItem(), index);
    auto *edit = qobject_cast<QLineEdit *>(editor);
    QVERIFY(edit);
    QVERIFY(qobject_cast<const QDoubleValidator *>(edit->validator()));
    d.setEditorData(editor, index);
    QCOMPARE(edit->text(), QString("3"));
    QCOMPARE(edit->selectedText(), QString("3"));
    QSignalSpy changed(&m, &MyTableModel::cellChanged);
    edit->setText(text);   // bypasses the validator, as a paste may
    if (logsMD1)
        QTest::ignoreMessage(QtCriticalMsg, "error no: MD1");
    d.setModelData(editor, &m, index);
    QCOMPARE(changed.size(), changes ? 1 : 0);
    QCOMPARE(a.rows[0][1], changes ? text.toDouble() : 3.0);
}

void TableModelTest::typingIntoTheView()
{
    Arrays a(2);
    MyTableModel m;
    m.resize(2, a.rows.data(), a.rhs.data());
    QTableView view;
    MyDelegate d;
    view.setModel(&m);
    view.setItemDelegate(&d);
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const QModelIndex rhs = m.index(1, 3);
    view.setCurrentIndex(rhs);
    view.edit(rhs);
    auto *edit = view.findChild<QLineEdit *>();
    QVERIFY(edit);
    QTest::keyClicks(edit, "-7.25");
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_COMPARE(a.rhs[1], -7.25);

    // Letters never reach the cell: the validator drops them.
    const QModelIndex cell = m.index(0, 0);
    view.setCurrentIndex(cell);
    view.edit(cell);
    edit = view.findChild<QLineEdit *>();
    QVERIFY(edit);
    QTest::keyClicks(edit, "abc");
    QCOMPARE(edit->text(), QString("0"));   // the old text, still selected
    QTest::keyClicks(edit, "--3");
    QCOMPARE(edit->text(), QString("-3"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_COMPARE(a.rows[0][0], -3.0);
}

QTEST_MAIN(TableModelTest)
#include "tst_tablemodel.moc"
