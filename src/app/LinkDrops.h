#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QMimeData;
class QWidget;

namespace orvello {

// Addresses dropped on the window: text or links dragged from a browser or an editor onto
// the surface or the grid. Each address of a supported site the drop brings is handed on, in
// its order, as if typed and added; a drop that brings none is refused, and the pointer shows
// so while it is dragged over the window.
class LinkDrops : public QObject {
    Q_OBJECT
public:
    explicit LinkDrops(std::function<void(const QString& address)> add, QObject* parent = nullptr);

    // Takes the drops that reach `target`, which from now on accepts drops.
    void Watch(QWidget& target);

    // The addresses of supported sites in dropped data: its links (text/uri-list) when it has
    // any, else its text, one address a line, without the blanks around it. Local files and
    // anything no supported site knows are left out.
    static QStringList Addresses(const QMimeData* data);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(const QString&)> add_;
};

} // namespace orvello
