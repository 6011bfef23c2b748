#pragma once

#include "list/AddressSplit.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <optional>

class QMimeData;
class QWidget;

namespace orvello {

class Prompter;

// Addresses dropped on the window: text or links dragged from a browser or an editor onto
// the surface or the grid. The addresses of supported sites the drop brings are handed on
// together, in their order, to be added as the Add command adds them; a drop that brings none
// is refused, and the pointer shows so while it is dragged over the window. The dragged data
// is read once per drag, when it enters, however long it is moved about.
class LinkDrops : public QObject {
    Q_OBJECT
public:
    // `add` adds the addresses and answers how many of them found the list full; a drop that
    // left any out says so through `prompter`.
    LinkDrops(std::function<qsizetype(const QStringList& addresses)> add, Prompter& prompter,
              QObject* parent = nullptr);

    // Takes the drops that reach `target`, which from now on accepts drops.
    void Watch(QWidget& target);

    // The addresses of supported sites in dropped data: its links (text/uri-list) when it has
    // any, else the words of its text (SplitAddresses). Local files and anything no supported
    // site knows are left out; past the most a list can hold they are only counted.
    static SplitText Addresses(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<qsizetype(const QStringList&)> add_;
    Prompter& prompter_;
    // What the drag over the window brings, read when it entered; none between drags.
    std::optional<SplitText> drag_;
};

} // namespace orvello
