#include "BagExercise.h"

#include "PropertyBag.h"

#include <cstdio>
#include <cstdlib>

namespace {

const QString source = QStringLiteral("fuzz-input.bag");

[[noreturn]] void broken(const char* what, const QString& detail = {})
{
    std::fprintf(stderr, "BagExercise: %s %s\n", what, qPrintable(detail));
    std::abort();
}

template <class F>
bool attempt(F&& read)
{
    try {
        read();
        return true;
    } catch (const KalvoraError& error) {
        if (!error.message().startsWith(source))
            broken("error without its source:", error.message());
        return false;
    }
}

/// The bar's loading order: pictures, twelve fonts, twelve groups, captions, border style.
void readAsTheBar(PropertyBag& bag)
{
    for (int n = 1; n <= 12; ++n)
        attempt([&] { bag.readPicture(QStringLiteral("Picture%1").arg(n)); });
    for (int i = 0; i < 12; ++i)
        attempt([&] { bag.readFont(QStringLiteral("Font"), StdFont()); });
    for (int i = 0; i < 12; ++i)
        attempt([&] { bag.readString(QStringLiteral("IndexGroup"), QString()); });
    for (int n = 1; n <= 12; ++n)
        attempt([&] { bag.readString(QStringLiteral("Text%1").arg(n), QStringLiteral("Text")); });
    attempt([&] { bag.readInt16(QStringLiteral("BorderStyle"), 0); });
    attempt([&] { bag.readInt32(QStringLiteral("_extentx"), 0); });
}

} // namespace

namespace BagExercise {

void run(const QByteArray& bytes)
{
    PropertyBag bag = PropertyBag::parse(bytes, source);
    if (bag.fault() && !bag.fault()->message().startsWith(source))
        broken("fault without its source:", bag.fault()->message());

    // Every entry read directly; remember whether all of them are usable.
    bool clean = !bag.fault();
    QList<PropertyBag::Value> values;
    for (qsizetype i = 0; i < bag.count(); ++i) {
        if (!attempt([&] { values.append(bag.valueAt(i)); }))
            clean = false;
    }
    readAsTheBar(bag);
    bag.rewind();
    for (qsizetype i = 0; i < bag.count(); ++i)
        attempt([&] { bag.read(bag.nameAt(i), std::int16_t(0)); });

    if (!clean)
        return;
    // A bag that read cleanly must survive writing and reading back unchanged.
    QByteArray written;
    if (!attempt([&] { written = bag.serialize(); }))
        broken("a clean bag cannot be written");
    const PropertyBag again = PropertyBag::parse(written, source);
    if (again.fault())
        broken("a written bag does not parse:", again.fault()->message());
    if (again.count() != bag.count())
        broken("a written bag lost entries");
    for (qsizetype i = 0; i < again.count(); ++i) {
        if (again.nameAt(i) != bag.nameAt(i).toLower())
            broken("a written bag changed a name:", bag.nameAt(i));
        if (again.valueAt(i) != values.at(i))
            broken("a written bag changed a value of", bag.nameAt(i));
    }
    if (again.serialize() != written)
        broken("writing a bag twice gives different bytes");
}

} // namespace BagExercise
