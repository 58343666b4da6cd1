#pragma once
#include <QAbstractListModel>
#include <cstddef>
#include <functional>
#include <string_view>

#include "viewer/lines/BlockSupply.h"
#include "viewer/lines/LineStore.h"

// The lines of the log list, each kept as the 8-bit bytes it was given. Lines live in large
// blocks made ready ahead of use (BlockSupply) with an 8-byte index entry each (LineStore), and
// text for display is made only for the rows being drawn. Lines can be put on top or at the bottom;
// neither costs more as the list grows.
//
// Lines can be staged and then committed together, so that a burst of lines becomes one
// insertion for the views.
class CLogListModel : public QAbstractListModel {
    Q_OBJECT
  public:
    explicit CLogListModel(QObject* parent = nullptr);
    ~CLogListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Number of visible lines.
    std::size_t size() const { return m_top.visible + m_bottom.visible; }
    // The bytes of visible line `row`, exactly as inserted. Valid until the next clear().
    std::string_view line(std::size_t row) const;
    // Visible lines that were put on top; they occupy rows 0 .. topCount() - 1, newest first.
    std::size_t topCount() const { return m_top.visible; }

    // Inserts one line at once, on top or at the bottom.
    void insertLine(std::string_view line, bool onTop);
    // Keeps `line` for the next commitStaged(); until then views do not see it.
    void stageLine(std::string_view line, bool onTop);
    std::size_t stagedCount() const;
    // Makes every staged line visible: one insertion on top and one at the bottom at most.
    void commitStaged();
    // Replaces every line with `lines`, all shown at the bottom, oldest first: a saved log.
    void adoptLines(LineStore lines);
    // Removes every line, staged ones included, and gives the memory they took back to the
    // system.
    void clear();
    // Bytes held for lines: their blocks and index entries, used or not.
    std::size_t bytesHeld() const;

    // Called with every line as it is staged, its side and its position there (oldest first),
    // while the line's bytes are still in the cache; an empty function (the default) for none.
    using StagedLineObserver =
        std::function<void(std::string_view line, bool onTop, std::size_t position)>;
    void setStagedLineObserver(StagedLineObserver observer) { m_observer = std::move(observer); }

  private:
    struct Side {
        explicit Side(BlockSupply* supply) : lines(supply) {}
        LineStore lines;  // oldest first
        std::size_t visible = 0;
    };

    // Shared by both sides; declared first, so the sides' blocks go before it.
    BlockSupply m_supply{LineStore::kBlockSize};
    Side m_top{&m_supply};
    Side m_bottom{&m_supply};
    StagedLineObserver m_observer;
};
