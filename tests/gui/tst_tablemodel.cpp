// The equation table: model rules, text form, resizes and the delegate.
#include "mydelegate.h"
#include "mytablemodel.h"
#include "tableheader.h"
#include "testenv.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QItemDelegate>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include <vector>

namespace {
// Arrays laid out like a window's store, shown by a model.
struct Table
{
    explicit Table(int n) : rows(size_t(n)), data(size_t(n) * size_t(n)), rhs(size_t(n))
    {
        for (int i = 0; i < n; ++i)
            rows[size_t(i)] = data.data() + size_t(i) * size_t(n);
        m.resize(n, rows.data(), rhs.data());
    }
    double &at(int r, int c) { return c > m.variables() ? rhs[size_t(r)] : rows[size_t(r)][c]; }
    std::vector<double *> rows;
    std::vector<double> data;
    std::vector<double> rhs;
    MyTableModel m;
};
}

class TableModelTest : public QObject
{
    Q_OBJECT
private slots:
    void headersAndFlags()
    {
        Table t(3);
        MyTableModel &m = t.m;
        auto header = [&m](int c) { return m.headerData(c, Qt::Horizontal).toString(); };
        QCOMPARE(header(2) + header(3) + header(4), QString("X3=R.H.S."));
        QCOMPARE(m.headerData(2, Qt::Vertical).toString(), QString("3"));
        QVERIFY(!m.headerData(5, Qt::Horizontal).isValid() && !m.headerData(3, Qt::Vertical).isValid());
        QCOMPARE(m.data(m.index(2, 3)).toString(), QString("="));
        QCOMPARE(m.flags(m.index(2, 3)), Qt::NoItemFlags);
        QVERIFY(m.flags(m.index(2, 4)) & Qt::ItemIsEditable);
        // The edit role gives nothing: editors start from the display text.
        QVERIFY(!m.data(m.index(0, 0), Qt::EditRole).isValid());
    }

    // Where rows and columns go is checked through the window (tst_variables).
    void resizes()
    {
        Table a(2), b(5), c(3);
        MyTableModel m;
        QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (Table *t : {&a, &b, &c})
            m.resize(int(t->rhs.size()), t->rows.data(), t->rhs.data());
        QVERIFY(m.setData(m.index(1, 1), "2.5"));
        QCOMPARE(c.rows[1][1], 2.5);
        QCOMPARE(m.columnCount(), 5);
        m.resize(0, nullptr, nullptr);
        QCOMPARE(m.columnCount(), 0);
    }

    void setDataRules()
    {
        // Accepted: a coefficient, the same text, the right-hand side, a plus
        // sign, blanks. Refused: empty, bare exponent, double minus, overflow,
        // inf, nan, trailing junk, the "=" column.
        const struct { int column; const char *text; bool accepted; double stored; } cases[] = {
            {0, "-2.5", true, -2.5}, {0, "0", true, 0.0}, {3, "7", true, 7.0}, {1, "+4", true, 4.0},
            {1, " 3 ", true, 3.0}, {0, "", false, 0.0}, {0, "1e", false, 0.0}, {0, "--3", false, 0.0},
            {0, "1e999", false, 0.0}, {0, "inf", false, 0.0}, {0, "nan", false, 0.0}, {0, "3x", false, 0.0},
            {2, "5", false, 0.0}};
        for (const auto &[column, text, accepted, stored] : cases) {
            Table t(2);
            // The receiver must still see the old value when cellChanged arrives.
            double seenBefore = -1.0;
            connect(&t.m, &MyTableModel::cellChanged, this,
                    [&](int r, int c, const QString &) { seenBefore = t.at(r, c); }, Qt::DirectConnection);
            QSignalSpy changed(&t.m, &MyTableModel::cellChanged);
            QSignalSpy data(&t.m, &QAbstractItemModel::dataChanged);
            const QModelIndex index = t.m.index(1, column);
            QVERIFY(!t.m.setData(index, text, Qt::DisplayRole));
            QCOMPARE(t.m.setData(index, text, Qt::EditRole), accepted);
            QCOMPARE(data.size(), changed.size());
            QCOMPARE(changed.size(), accepted ? 1 : 0);
            if (accepted) {
                QCOMPARE(changed.first().at(2).toString(), QString(text));
                QCOMPARE(seenBefore, 0.0);
                QCOMPARE(t.at(1, column), stored);
            }
            // No other cell is touched.
            Table expected(2);
            if (accepted)
                expected.at(1, column) = stored;
            QVERIFY(t.data == expected.data && t.rhs == expected.rhs);

            // Through the cell editor: an empty or unchanged text is not committed,
            // a refused one is logged.
            Table u(2);
            MyDelegate d;
            QWidget parent;
            auto *edit = qobject_cast<QLineEdit *>(d.createEditor(&parent, QStyleOptionViewItem(), index));
            QVERIFY(edit);
            d.setEditorData(edit, u.m.index(1, column));
            QCOMPARE(edit->selectedText(), column == 2 ? QString("=") : QString("0"));
            QSignalSpy committed(&u.m, &MyTableModel::cellChanged);
            edit->setText(text);   // bypasses the validator, as a paste may
            if (!accepted && *text)
                QTest::ignoreMessage(QtCriticalMsg, "error no: MD1");
            d.setModelData(edit, &u.m, u.m.index(1, column));
            QCOMPARE(committed.size(), accepted && text != QString("0") ? 1 : 0);
            if (column != 2)
                QCOMPARE(u.at(1, column), stored);
        }
    }

    void lockedModelAndCellsFromCode()
    {
        Table t(2);
        t.rows[0][0] = 9.0;
        t.m.lock();
        QVERIFY(!t.m.data(t.m.index(0, 0)).isValid() && !t.m.setData(t.m.index(0, 0), "1"));
        QCOMPARE(t.rows[0][0], 9.0);
        t.m.resize(2, t.rows.data(), t.rhs.data());
        QVERIFY(!t.m.isLocked());
        QCOMPARE(t.m.data(t.m.index(0, 0)).toDouble(), 9.0);

        // Cells set from code: no dataChanged; column N or beyond is the right-hand side.
        QSignalSpy data(&t.m, &QAbstractItemModel::dataChanged);
        t.m.setCellData(1, 0, 4.5);
        t.m.setCellData(0, 2, 8.0);
        t.m.setCellData(5, 0, 1.0);   // outside: ignored
        QCOMPARE(t.rows[1][0], 4.5);
        QCOMPARE(t.rhs[0], 8.0);
        QCOMPARE(data.size(), 0);
    }

    void tableText()
    {
        Table a(3);
        const double values[] = {0.1, -1e-300, 123456789012345678.0, 1.0 / 3.0, 2e15, -0.0, 5e-324, 7, 8};
        std::copy(std::begin(values), std::end(values), a.data.begin());
        a.rhs = {4, 5, 6};
        QString s;
        a.m.getTableData(&s);
        QCOMPARE(s, QString("0.1 -1e-300 1.23456789012346e+17 4 ;0.333333333333333 2e+15 -0 5 ;"
                            "4.94065645841247e-324 7 8 6 "));
        Table back(3);
        back.m.setTableData(&s);
        for (int i = 0; i < 9; ++i)
            QVERIFY(fuzzyEqual(back.data[size_t(i)], a.data[size_t(i)], 1e-14));
        QCOMPARE(back.rhs, a.rhs);

        // Extra values and blanks are skipped, junk reads as zero, missing rows stay.
        Table t(2);
        t.rows[1][1] = 42;
        s = "1  x 3 99 99;;";
        t.m.setTableData(&s);
        QCOMPARE(t.data, (std::vector<double>{1, 0, 0, 42}));
        QCOMPARE(t.rhs[0], 3.0);
        QVERIFY(!t.m.isLocked());
    }

    // Letters and a second minus never reach the cell: the validator drops them.
    void typingIntoTheView()
    {
        Table t(2);
        QTableView view;
        MyDelegate d;
        view.setModel(&t.m);
        view.setItemDelegate(&d);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.setCurrentIndex(t.m.index(0, 0));
        view.edit(t.m.index(0, 0));
        auto *edit = view.findChild<QLineEdit *>();
        QVERIFY(edit);
        QTest::keyClicks(edit, "a-bc-7.25");
        QCOMPARE(edit->text(), QString("-7.25"));
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_COMPARE(t.rows[0][0], -7.25);
    }

    // The header measures a few labels at each end, the plain one a hundred:
    // the sizes must agree.
    void headerSizeAsThePlainHeader_data()
    {
        QTest::addColumn<int>("n");
        QTest::newRow("2") << 2;
        QTest::newRow("15") << 15;
        QTest::newRow("1200") << 1200;
    }
    void headerSizeAsThePlainHeader()
    {
        QFETCH(int, n);
        Table t(n);
        for (Qt::Orientation o : {Qt::Horizontal, Qt::Vertical}) {
            QHeaderView plain(o);
            TableHeader sampled(o);
            plain.setModel(&t.m);
            sampled.setModel(&t.m);
            QCOMPARE(sampled.sizeHint(), plain.sizeHint());
        }
    }

    // Numbers are drawn from the font's glyphs: the pixels must be those of
    // the general text layout, cut short or not, selected or not.
    void numbersDrawnAsTheLayoutDraws_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("pointSize");
        QTest::addColumn<bool>("selected");
        QTest::newRow("fits") << 2.5 << 100 << 0 << false;
        QTest::newRow("cut short") << -34.548478651234 << 60 << 0 << false;
        QTest::newRow("exponent, selected") << -1.5e-300 << 100 << 0 << true;
        QTest::newRow("room for the mark only") << 123456.0 << 16 << 0 << false;
        QTest::newRow("no room at all") << 123456.0 << 6 << 0 << true;
        QTest::newRow("large font, cut") << 98765.4321 << 70 << 17 << false;
        QTest::newRow("many digits") << 1.23456789012345e-5 << 160 << 0 << false;
        QTest::newRow("rounded up") << 123456789987.0 << 160 << 0 << true;
    }
    void numbersDrawnAsTheLayoutDraws()
    {
        QFETCH(double, value);
        QFETCH(int, width);
        QFETCH(int, pointSize);
        QFETCH(bool, selected);
        Table t(2);
        t.at(0, 0) = value;
        t.at(1, 3) = value;
        MyDelegate fast;
        QItemDelegate plain;
        auto draw = [&](QAbstractItemDelegate *delegate) {
            QTableView view;
            if (pointSize > 0) {
                QFont f = view.font();
                f.setPointSize(pointSize);
                view.setFont(f);
            }
            view.setModel(&t.m);
            view.setItemDelegate(delegate);
            for (int c = 0; c < 4; ++c)
                view.setColumnWidth(c, width);
            view.resize(400, 200);
            if (selected)
                view.selectionModel()->select(t.m.index(0, 0), QItemSelectionModel::Select);
            return view.viewport()->grab().toImage();
        };
        const QImage a = draw(&fast);
        QVERIFY(!a.isNull());
        QCOMPARE(a, draw(&plain));
    }
};

QTEST_MAIN(TableModelTest)
#include "tst_tablemodel.moc"
