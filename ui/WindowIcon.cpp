#include "ui/WindowIcon.h"

#include <QDirIterator>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <iterator>
#include <map>

namespace {

class TPngIconEngine final : public QIconEngine {
  public:
    TPngIconEngine() {
        // No name filter: it would compile a regular expression.
        QDirIterator files(":/icon", QDir::Files);
        while (files.hasNext()) {
            const QString path = files.next();
            const qsizetype dash = path.lastIndexOf('-');
            const int px = path.endsWith(".png") ? QStringView(path).sliced(dash + 1).chopped(4).toInt() : 0;
            if (px > 0) m_files.emplace(px, path);
        }
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        if (m_files.empty() || size.isEmpty()) return {};
        // The smallest drawing that is no smaller, else the largest: Qt
        // scales down well, up poorly.
        auto file = m_files.lower_bound(std::max(size.width(), size.height()));
        if (file == m_files.end()) file = std::prev(m_files.end());
        QPixmap& cached = m_pixmaps[file->first];
        if (cached.isNull()) {
            // The format named and guessing off: a guessing reader asks
            // every image-format plugin first, loading each.
            QImageReader reader(file->second, "png");
            reader.setAutoDetectImageFormat(false);
            cached = QPixmap::fromImage(reader.read());
        }
        if (cached.isNull() || cached.size() == size) return cached;
        return cached.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int px = std::min(size.width(), size.height());
        return m_files.empty() ? QSize() : QSize(px, px);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (const auto& file : m_files) sizes.append(QSize(file.first, file.first));
        return sizes;
    }

    QIconEngine* clone() const override { return new TPngIconEngine(*this); }
    QString key() const override { return QStringLiteral("rq905png"); }

  private:
    std::map<int, QString> m_files;
    std::map<int, QPixmap> m_pixmaps;
};

}  // namespace

QIcon WindowIcon() { return QIcon(new TPngIconEngine); }
