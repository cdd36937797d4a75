#include "store/CachedDataSet.h"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

namespace {
const TValue kNull{};
// A few records of the largest kind (4 x 4320 samples, 70 KB each) and many ordinary ones.
constexpr std::size_t kBlobCacheLimit = 8u << 20;
} // namespace

TCachedDataSet::TCachedDataSet(TDataSetConfig config)
    : m_config(std::move(config))
{ }

TCachedDataSet::~TCachedDataSet() = default;

void TCachedDataSet::RequireActive() const
{
    if (m_state == TDataSetState::Inactive)
        throw std::logic_error("dataset is closed");
}

TStatement& TCachedDataSet::Statement(std::unique_ptr<TStatement>& slot, const std::string& sql)
{
    if (!slot)
        slot = m_connection->Prepare(sql);
    return *slot;
}

void TCachedDataSet::Open(TConnection& connection)
{
    Close();
    auto select = connection.Prepare(m_config.SelectSql);
    m_fields = m_config.Fields;
    m_columnOfField.assign(m_fields.size(), -1);
    for (std::size_t c = 0; c < select->ColumnCount(); ++c) {
        const std::string& name = select->ColumnName(c);
        auto it = std::find(m_fields.begin(), m_fields.end(), name);
        if (it == m_fields.end()) {
            m_fields.push_back(name);
            m_columnOfField.push_back(static_cast<int>(c));
        } else {
            m_columnOfField[it - m_fields.begin()] = static_cast<int>(c);
        }
    }
    for (std::size_t f = 0; f < m_config.Fields.size(); ++f)
        if (m_columnOfField[f] < 0)
            throw TDatabaseError("column " + m_fields[f] + " is missing");
    m_keyField = FieldIndex(m_config.KeyField);
    m_lazy.assign(m_fields.size(), false);
    for (const std::string& name : m_config.LazyFields)
        m_lazy[FieldIndex(name)] = true;
    SetLazyColumns(*select);
    ForgetBlobs();

    select->Open();
    std::vector<TRowPtr> rows;
    while (select->Fetch()) {
        auto row = std::make_unique<TRow>();
        row->Values = ReadRow(*select);
        rows.push_back(std::move(row));
    }
    m_all = std::move(rows);
    RebuildView();
    m_connection = &connection;
    m_state = TDataSetState::Browse;
    m_current = 0;
    m_bof = true;
    m_eof = m_rows.empty();
    NotifyDataSetChanged();
    Scrolled();
}

void TCachedDataSet::SetLazyColumns(TStatement& statement) const
{
    for (std::size_t f = 0; f < m_fields.size(); ++f)
        if (m_lazy[f] && m_columnOfField[f] >= 0
            && static_cast<std::size_t>(m_columnOfField[f]) < statement.ColumnCount())
            statement.SetLazyBlob(static_cast<std::size_t>(m_columnOfField[f]), true);
}

const TValue& TCachedDataSet::Resolve(const TValue& value) const
{
    const auto* id = std::get_if<TBlobId>(&value);
    if (!id)
        return value;
    for (auto it = m_blobCache.begin(); it != m_blobCache.end(); ++it)
        if (it->first == *id) {
            m_blobCache.splice(m_blobCache.begin(), m_blobCache, it);
            return m_blobCache.front().second;
        }
    if (!m_connection)
        throw TDatabaseError("no database connection");
    std::string bytes = m_connection->ReadBlob(*id);
    const std::size_t size = bytes.size();
    m_blobCache.emplace_front(*id, TValue{std::move(bytes)});
    m_blobCacheBytes += size;
    // The newest entry always stays, however large.
    while (m_blobCacheBytes > kBlobCacheLimit && m_blobCache.size() > 1) {
        m_blobCacheBytes -= std::get<std::string>(m_blobCache.back().second).size();
        m_blobCache.pop_back();
    }
    return m_blobCache.front().second;
}

void TCachedDataSet::ForgetBlobs() const
{
    m_blobCache.clear();
    m_blobCacheBytes = 0;
}

void TCachedDataSet::BindKey(TStatement& statement, const TRow& row)
{
    const auto& names = statement.ParamNames();
    for (std::size_t p = 0; p < names.size(); ++p) {
        const std::string& name = names[p];
        statement.SetParam(p, row.Values.at(FieldIndex(name.rfind("OLD_", 0) == 0 ? name.substr(4) : name)));
    }
}

void TCachedDataSet::RefreshWrittenRows()
{
    RequireActive();
    ForgetBlobs();
    std::vector<TRow*> written;
    written.swap(m_written);
    // Only rows still held: a row may have gone since (an inserted one cancelled, say).
    std::set<const TRow*> held;
    for (const TRowPtr& row : m_all)
        held.insert(row.get());
    for (TRow* row : written) {
        if (!held.count(row) || row->Status != TUpdateStatus::Unchanged)
            continue;
        TStatement& refresh = Statement(m_refresh, m_config.RefreshSql);
        SetLazyColumns(refresh);
        BindKey(refresh, *row);
        refresh.Open();
        if (refresh.Fetch())
            row->Values = ReadRow(refresh);
        refresh.CloseCursor();
    }
    NotifyRecordChanged();
}

bool TCachedDataSet::ChangedSince(const std::vector<TValue>& asRead, const std::vector<TValue>& stored) const
{
    if (m_config.VersionField.empty())
        return asRead != stored;
    const std::size_t version = FieldIndex(m_config.VersionField);
    return asRead.at(version) != stored.at(version);
}

int TCachedDataSet::Reload(TConnection& connection, const std::function<bool(const TRowConflict&)>& keepMine)
{
    return Reload(connection, keepMine, false);
}

void TCachedDataSet::Rebase(TConnection& connection)
{
    Reload(
        connection, [](const TRowConflict&) { return true; }, true);
}

int TCachedDataSet::Reload(
    TConnection& connection, const std::function<bool(const TRowConflict&)>& keepMine, bool rebase)
{
    CheckBrowseMode();
    auto select = connection.Prepare(m_config.SelectSql);
    SetLazyColumns(*select);
    select->Open();
    std::vector<std::vector<TValue>> order;
    std::map<std::int64_t, std::size_t> storedAt;
    while (select->Fetch()) {
        order.push_back(ReadRow(*select));
        if (const auto* key = std::get_if<std::int64_t>(&order.back()[m_keyField]))
            storedAt.emplace(*key, order.size() - 1);
    }
    select->CloseCursor();
    m_connection = &connection;
    ForgetBlobs();
    m_written.clear();
    m_skipped.clear();
    m_undo.clear();

    const TRow* current = m_rows.empty() ? nullptr : m_rows[m_current];
    std::vector<bool> seen(order.size(), false);
    std::vector<TRowPtr> kept;
    int different = 0;
    for (TRowPtr& row : m_all) {
        if (row->Status == TUpdateStatus::Inserted) {
            kept.push_back(std::move(row));
            continue;
        }
        const auto* key = std::get_if<std::int64_t>(&row->AsRead()[m_keyField]);
        const auto at = key ? storedAt.find(*key) : storedAt.end();
        const bool gone = at == storedAt.end();
        const std::vector<TValue>* stored = gone ? nullptr : &order[at->second];
        if (!gone)
            seen[at->second] = true;
        const bool changedThere = rebase || gone || ChangedSince(row->AsRead(), *stored);
        bool keep = true;
        if (row->Status == TUpdateStatus::Unchanged) {
            if (gone)
                keep = false;
            else if (row->Values != *stored)
                row->Values = *stored;
            different += changedThere;
        } else if (changedThere) {
            TRowConflict conflict;
            if (row->Status != TUpdateStatus::Deleted)
                conflict.Mine = row->Values;
            if (stored)
                conflict.Theirs = *stored;
            if (keepMine(conflict)) {
                if (gone && row->Status == TUpdateStatus::Deleted)
                    keep = false;
                else if (gone) {
                    row->Status = TUpdateStatus::Inserted;
                    row->Original.reset();
                } else {
                    row->Original = *stored;
                }
            } else {
                ++different;
                if (gone)
                    keep = false;
                else {
                    row->Values = *stored;
                    row->Original.reset();
                    row->Status = TUpdateStatus::Unchanged;
                }
            }
        }
        if (keep)
            kept.push_back(std::move(row));
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (seen[i])
            continue;
        auto row = std::make_unique<TRow>();
        row->Values = std::move(order[i]);
        kept.push_back(std::move(row));
        ++different;
    }
    m_all = std::move(kept);
    ShowRowsAgain(current);
    return different;
}

void TCachedDataSet::ShowRowsAgain(const TRow* current)
{
    RebuildView();
    m_current = ViewIndex(current, m_current);
    m_bof = m_current == 0;
    m_eof = m_rows.empty();
    NotifyDataSetChanged();
    Scrolled();
}

void TCachedDataSet::ForgetStatements()
{
    m_insert.reset();
    m_update.reset();
    m_delete.reset();
    m_refresh.reset();
    m_generator.reset();
    ForgetBlobs();
}

std::vector<TValue> TCachedDataSet::ReadRow(TStatement& statement) const
{
    std::vector<TValue> values(m_fields.size());
    for (std::size_t f = 0; f < m_fields.size(); ++f)
        values[f] = statement.Column(m_columnOfField[f]);
    return values;
}

void TCachedDataSet::Close()
{
    const bool wasActive = Active();
    m_insert.reset();
    m_update.reset();
    m_delete.reset();
    m_refresh.reset();
    m_generator.reset();
    m_rows.clear();
    m_all.clear();
    m_undo.clear();
    m_written.clear();
    m_skipped.clear();
    m_editBuffer.clear();
    ForgetBlobs();
    m_current = 0;
    m_bof = m_eof = true;
    m_state = TDataSetState::Inactive;
    m_connection = nullptr;
    if (wasActive)
        NotifyDataSetChanged();
}

std::size_t TCachedDataSet::FieldIndex(const std::string& name) const
{
    auto it = std::find(m_fields.begin(), m_fields.end(), name);
    if (it == m_fields.end()) {
        auto configured = std::find(m_config.Fields.begin(), m_config.Fields.end(), name);
        if (configured != m_config.Fields.end())
            return configured - m_config.Fields.begin();
        throw std::out_of_range("no field " + name);
    }
    return it - m_fields.begin();
}

const TValue& TCachedDataSet::Field(std::size_t index) const
{
    if (m_state == TDataSetState::Edit || m_state == TDataSetState::Insert)
        return index < m_editBuffer.size() ? Resolve(m_editBuffer[index]) : kNull;
    if (m_current >= m_rows.size() || index >= m_rows[m_current]->Values.size())
        return kNull;
    return Resolve(m_rows[m_current]->Values[index]);
}

const TValue& TCachedDataSet::RowField(int row, std::size_t index) const
{
    if (m_state == TDataSetState::Edit && row == static_cast<int>(m_current))
        return Resolve(m_editBuffer.at(index));
    return Resolve(m_rows.at(row)->Values.at(index));
}

// ---- navigation ------------------------------------------------------------------------------

void TCachedDataSet::CheckBrowseMode()
{
    RequireActive();
    if (m_state == TDataSetState::Edit || m_state == TDataSetState::Insert)
        Post();
}

void TCachedDataSet::PlaceCursor(std::size_t index)
{
    m_current = m_rows.empty() ? 0 : std::min(index, m_rows.size() - 1);
}

void TCachedDataSet::SetCurrent(std::size_t index)
{
    PlaceCursor(index);
    Scrolled();
}

void TCachedDataSet::RebuildView()
{
    m_rows.clear();
    for (const TRowPtr& row : m_all)
        if (row->Status != TUpdateStatus::Deleted)
            m_rows.push_back(row.get());
}

std::size_t TCachedDataSet::ViewIndex(const TRow* row, std::size_t otherwise) const
{
    auto found = std::find(m_rows.begin(), m_rows.end(), row);
    if (row && found != m_rows.end())
        return static_cast<std::size_t>(found - m_rows.begin());
    return m_rows.empty() ? 0 : std::min(otherwise, m_rows.size() - 1);
}

void TCachedDataSet::First()
{
    CheckBrowseMode();
    m_bof = true;
    m_eof = m_rows.empty();
    SetCurrent(0);
}

void TCachedDataSet::Last()
{
    CheckBrowseMode();
    m_eof = true;
    m_bof = m_rows.empty();
    SetCurrent(m_rows.empty() ? 0 : m_rows.size() - 1);
}

void TCachedDataSet::Next()
{
    CheckBrowseMode();
    if (m_rows.empty() || m_current + 1 >= m_rows.size()) {
        m_eof = true;
        return;
    }
    m_bof = false;
    m_eof = false;
    SetCurrent(m_current + 1);
}

void TCachedDataSet::Prior()
{
    CheckBrowseMode();
    if (m_rows.empty() || m_current == 0) {
        m_bof = true;
        return;
    }
    m_bof = false;
    m_eof = false;
    SetCurrent(m_current - 1);
}

void TCachedDataSet::MoveBy(int distance)
{
    CheckBrowseMode();
    if (m_rows.empty())
        return;
    const long long target = static_cast<long long>(m_current) + distance;
    m_bof = target <= 0 && distance < 0;
    m_eof = target >= static_cast<long long>(m_rows.size()) - 1 && distance > 0;
    SetCurrent(static_cast<std::size_t>(
        std::clamp<long long>(target, 0, static_cast<long long>(m_rows.size()) - 1)));
}

void TCachedDataSet::SetRecNo(int recNo)
{
    CheckBrowseMode();
    if (m_rows.empty())
        return;
    m_bof = m_eof = false;
    SetCurrent(static_cast<std::size_t>(std::clamp(recNo, 1, RecordCount()) - 1));
}

// ---- editing ---------------------------------------------------------------------------------

std::int64_t TCachedDataSet::NextKey()
{
    TStatement& gen
        = Statement(m_generator, "SELECT GEN_ID(" + m_config.Generator + ", 1) FROM RDB$DATABASE");
    gen.Open();
    if (!gen.Fetch())
        throw TDatabaseError("generator " + m_config.Generator + " gave no value");
    const TValue v = gen.Column(0);
    gen.CloseCursor();
    return std::get<std::int64_t>(v);
}

void TCachedDataSet::Edit()
{
    RequireActive();
    if (m_state == TDataSetState::Edit || m_state == TDataSetState::Insert)
        return;
    if (m_rows.empty())
        throw std::logic_error("no record to edit");
    m_editBuffer = m_rows[m_current]->Values;
    m_state = TDataSetState::Edit;
    NotifyStateChanged();
}

void TCachedDataSet::Append()
{
    CheckBrowseMode();
    const std::int64_t key = NextKey();
    m_editBuffer.assign(m_fields.size(), TValue{});
    m_editBuffer[m_keyField] = key;
    m_state = TDataSetState::Insert;
    NotifyStateChanged();
}

void TCachedDataSet::SetField(std::size_t index, TValue value)
{
    if (m_state != TDataSetState::Edit && m_state != TDataSetState::Insert)
        throw std::logic_error("dataset is not in edit or insert state");
    m_editBuffer.at(index) = std::move(value);
    NotifyRecordChanged();
}

bool TCachedDataSet::SameValues(const std::vector<TValue>& edited, const std::vector<TValue>& held) const
{
    if (edited.size() != held.size())
        return false;
    for (std::size_t f = 0; f < edited.size(); ++f) {
        if (edited[f] == held[f])
            continue;
        if (!std::holds_alternative<TBlobId>(edited[f]) && !std::holds_alternative<TBlobId>(held[f]))
            return false;
        try {
            const TValue bytes = Resolve(edited[f]); // a copy: the next read may evict it
            if (bytes != Resolve(held[f]))
                return false;
        } catch (const TDatabaseError&) {
            return false; // unreadable: keep the edit as a change, the save writes it
        }
    }
    return true;
}

void TCachedDataSet::Post()
{
    if (m_state == TDataSetState::Edit) {
        TRow& row = *m_rows[m_current];
        if (!SameValues(m_editBuffer, row.Values)) {
            TUndoStep step(TUpdateStatus::Modified, &row, row.Status);
            step.Values = row.Values;
            step.Original = row.Original;
            PushUndo(std::move(step));
            if (row.Status == TUpdateStatus::Unchanged) {
                row.Original = std::move(row.Values);
                row.Status = TUpdateStatus::Modified;
            }
            // A changed row carries its blobs' bytes: should another workstation delete
            // it and this one keep it, only the bytes can store it again.
            for (std::size_t f = 0; f < m_lazy.size() && f < m_editBuffer.size(); ++f) {
                if (!m_lazy[f] || !std::holds_alternative<TBlobId>(m_editBuffer[f]))
                    continue;
                try {
                    m_editBuffer[f] = Resolve(m_editBuffer[f]);
                } catch (const TDatabaseError&) {
                    // Unreadable now: the save names the stored blob as before.
                }
            }
            row.Values = std::move(m_editBuffer);
        }
        m_editBuffer.clear();
        m_state = TDataSetState::Browse;
        NotifyStateChanged();
        NotifyRecordChanged();
    } else if (m_state == TDataSetState::Insert) {
        auto row = std::make_unique<TRow>();
        row->Values = std::move(m_editBuffer);
        row->Status = TUpdateStatus::Inserted;
        PushUndo(TUndoStep(TUpdateStatus::Inserted, row.get()));
        m_rows.push_back(row.get());
        m_all.push_back(std::move(row));
        m_editBuffer.clear();
        m_state = TDataSetState::Browse;
        m_bof = false;
        m_eof = false;
        PlaceCursor(m_rows.size() - 1);
        NotifyStateChanged();
        NotifyDataSetChanged();
        Scrolled();
    }
}

void TCachedDataSet::Cancel()
{
    if (m_state != TDataSetState::Edit && m_state != TDataSetState::Insert)
        return;
    const bool inserting = m_state == TDataSetState::Insert;
    m_editBuffer.clear();
    m_state = TDataSetState::Browse;
    NotifyStateChanged();
    if (inserting)
        Scrolled();
    else
        NotifyRecordChanged();
}

void TCachedDataSet::Delete()
{
    RequireActive();
    if (m_state == TDataSetState::Insert) {
        Cancel();
        return;
    }
    if (m_state == TDataSetState::Edit)
        Cancel();
    if (m_rows.empty())
        return;
    const std::size_t at = m_current;
    TRow* row = m_rows[at];
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(at));
    if (row->Status == TUpdateStatus::Inserted) {
        // Held by the undo step, so an undo brings it back where it was.
        const auto found
            = std::find_if(m_all.begin(), m_all.end(), [row](const TRowPtr& r) { return r.get() == row; });
        TUndoStep step(TUpdateStatus::Deleted, row, TUpdateStatus::Inserted);
        step.Position = static_cast<std::size_t>(found - m_all.begin());
        step.Removed = std::move(*found);
        m_all.erase(found);
        PushUndo(std::move(step));
    } else {
        PushUndo(TUndoStep(TUpdateStatus::Deleted, row, row->Status));
        row->Status = TUpdateStatus::Deleted;
    }
    // The next row becomes current, or the new last one; listeners read it at once.
    PlaceCursor(at);
    m_bof = at == 0;
    m_eof = m_rows.empty();
    NotifyDataSetChanged();
    Scrolled();
}

// ---- undo ------------------------------------------------------------------------------------

void TCachedDataSet::PushUndo(TUndoStep step)
{
    if (m_undoGroupDepth == 0 || m_undoGroup == 0)
        m_undoGroup = m_nextUndoGroup++;
    step.Group = m_undoGroup;
    m_undo.push_back(std::move(step));
    if (m_undoGroupDepth == 0)
        m_undoGroup = 0;
}

void TCachedDataSet::EndUndoGroup()
{
    if (m_undoGroupDepth > 0 && --m_undoGroupDepth == 0)
        m_undoGroup = 0;
}

std::optional<TCachedDataSet::TUndoInfo> TCachedDataSet::NextUndo() const
{
    if (m_undo.empty())
        return std::nullopt;
    TUndoInfo info;
    info.Kind = m_undo.back().Kind;
    for (auto step = m_undo.rbegin(); step != m_undo.rend() && step->Group == m_undo.back().Group; ++step)
        ++info.Count;
    info.Values = m_undo.back().Row->Values;
    return info;
}

bool TCachedDataSet::Undo()
{
    Cancel();
    if (m_undo.empty())
        return false;
    const int group = m_undo.back().Group;
    TRow* shown = nullptr;
    while (!m_undo.empty() && m_undo.back().Group == group) {
        TUndoStep step = std::move(m_undo.back());
        m_undo.pop_back();
        TRow* row = step.Row;
        if (step.Kind == TUpdateStatus::Modified) {
            row->Values = std::move(step.Values);
            row->Status = step.Status;
            row->Original = std::move(step.Original);
            shown = row;
        } else if (step.Kind == TUpdateStatus::Inserted) {
            std::erase_if(m_all, [row](const TRowPtr& r) { return r.get() == row; });
            if (shown == row)
                shown = nullptr;
        } else if (step.Removed) {
            m_all.insert(m_all.begin() + static_cast<std::ptrdiff_t>(std::min(step.Position, m_all.size())),
                std::move(step.Removed));
            shown = row;
        } else {
            row->Status = step.Status;
            shown = row;
        }
    }
    ShowRowsAgain(shown ? shown : (m_rows.empty() ? nullptr : m_rows[m_current]));
    return true;
}

// ---- change set ------------------------------------------------------------------------------

void TCachedDataSet::SetSelect(std::string selectSql, std::string refreshSql)
{
    m_config.SelectSql = std::move(selectSql);
    m_config.RefreshSql = std::move(refreshSql);
    m_refresh.reset();
}

void TCachedDataSet::ForEachChange(const TChangeVisitor& visit) const
{
    for (const TRowPtr& row : m_all)
        if (row->Status != TUpdateStatus::Unchanged)
            visit(row->Status, row->Values, row->AsRead());
}

bool TCachedDataSet::UpdatesPending() const
{
    return std::any_of(
        m_all.begin(), m_all.end(), [](const TRowPtr& r) { return r->Status != TUpdateStatus::Unchanged; });
}

bool TCachedDataSet::HasInserted() const
{
    return std::any_of(
        m_all.begin(), m_all.end(), [](const TRowPtr& r) { return r->Status == TUpdateStatus::Inserted; });
}

std::uint64_t TCachedDataSet::BindAndRun(TStatement& statement, const TRow& row)
{
    const auto& names = statement.ParamNames();
    for (std::size_t p = 0; p < names.size(); ++p) {
        const std::string& name = names[p];
        if (name.rfind("OLD_", 0) == 0)
            statement.SetParam(p, row.AsRead().at(FieldIndex(name.substr(4))));
        else
            statement.SetParam(p, row.Values.at(FieldIndex(name)));
    }
    return statement.Execute();
}

std::vector<TRowConflict> TCachedDataSet::ApplyUpdates(
    TConnection& connection, const std::function<bool(const std::vector<TValue>&)>& skipInsert)
{
    RequireActive();
    m_connection = &connection;
    m_written.clear();
    m_skipped.clear();
    std::vector<TRowConflict> conflicts;
    const bool versioned = !m_config.VersionField.empty();
    for (const TRowPtr& row : m_all)
        if (row->Status == TUpdateStatus::Deleted
            && BindAndRun(Statement(m_delete, m_config.DeleteSql), *row) == 0 && versioned)
            conflicts.push_back({{}, row->AsRead()});
    for (const TRowPtr& row : m_all) {
        if (row->Status != TUpdateStatus::Modified)
            continue;
        if (BindAndRun(Statement(m_update, m_config.UpdateSql), *row) == 0 && versioned)
            conflicts.push_back({row->Values, row->AsRead()});
        m_written.push_back(row.get());
    }
    // New rows last, so skipInsert sees the table with this save's deletes and updates.
    for (const TRowPtr& row : m_all) {
        if (row->Status != TUpdateStatus::Inserted)
            continue;
        if (skipInsert && skipInsert(row->Values)) {
            m_skipped.push_back(row.get());
            continue;
        }
        BindAndRun(Statement(m_insert, m_config.InsertSql), *row);
        m_written.push_back(row.get());
    }
    return conflicts;
}

void TCachedDataSet::CommitUpdates()
{
    m_undo.clear();
    ForgetBlobs();
    if (!m_skipped.empty()) {
        // Rows the save left out leave the list only now that it is durable.
        const TRow* current = m_rows.empty() ? nullptr : m_rows[m_current];
        const std::set<const TRow*> skipped(m_skipped.begin(), m_skipped.end());
        if (skipped.count(current))
            current = nullptr;
        std::erase_if(m_all, [&](const TRowPtr& r) { return skipped.count(r.get()) > 0; });
        m_skipped.clear();
        RebuildView();
        PlaceCursor(ViewIndex(current, m_current));
        NotifyDataSetChanged();
        Scrolled();
    }
    std::erase_if(m_all, [](const TRowPtr& r) { return r->Status == TUpdateStatus::Deleted; });
    for (const TRowPtr& row : m_all) {
        row->Status = TUpdateStatus::Unchanged;
        row->Original.reset();
    }
}

void TCachedDataSet::CancelUpdates()
{
    if (!Active())
        return;
    Cancel();
    m_undo.clear();
    const TRow* current = m_rows.empty() || m_rows[m_current]->Status == TUpdateStatus::Inserted
        ? nullptr
        : m_rows[m_current];
    std::erase_if(m_all, [](const TRowPtr& r) { return r->Status == TUpdateStatus::Inserted; });
    for (const TRowPtr& row : m_all) {
        if (row->Original) {
            row->Values = std::move(*row->Original);
            row->Original.reset();
        }
        row->Status = TUpdateStatus::Unchanged;
    }
    ShowRowsAgain(current);
}

void TCachedDataSet::RefreshCurrent(TConnection& connection)
{
    RequireActive();
    if (m_rows.empty() || m_state != TDataSetState::Browse)
        return;
    m_connection = &connection;
    TRow& row = *m_rows[m_current];
    if (row.Status != TUpdateStatus::Unchanged)
        return;
    TStatement& refresh = Statement(m_refresh, m_config.RefreshSql);
    SetLazyColumns(refresh);
    const auto& names = refresh.ParamNames();
    for (std::size_t p = 0; p < names.size(); ++p) {
        const std::string& name = names[p];
        const std::string field = name.rfind("OLD_", 0) == 0 ? name.substr(4) : name;
        refresh.SetParam(p, row.Values.at(FieldIndex(field)));
    }
    refresh.Open();
    if (refresh.Fetch())
        row.Values = ReadRow(refresh);
    refresh.CloseCursor();
    NotifyRecordChanged();
}

void TCachedDataSet::Sort(const TRowLess& less)
{
    CheckBrowseMode();
    const TRow* current = m_rows.empty() ? nullptr : m_rows[m_current];
    std::stable_sort(m_all.begin(), m_all.end(),
        [&](const TRowPtr& a, const TRowPtr& b) { return less(a->Values, b->Values); });
    RebuildView();
    m_current = ViewIndex(current, 0);
    NotifyDataSetChanged();
}

// ---- listeners -------------------------------------------------------------------------------

void TCachedDataSet::DisableControls()
{
    ++m_disableCount;
}

void TCachedDataSet::EnableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount == 0)
        NotifyDataSetChanged();
}

int TCachedDataSet::AddAfterScroll(std::function<void(TCachedDataSet&)> hook)
{
    m_afterScroll.emplace_back(m_nextHookId, std::move(hook));
    return m_nextHookId++;
}

void TCachedDataSet::RemoveAfterScroll(int id)
{
    std::erase_if(m_afterScroll, [id](const auto& h) { return h.first == id; });
}

void TCachedDataSet::AddListener(TDataSetListener* listener)
{
    m_listeners.push_back(listener);
}

void TCachedDataSet::RemoveListener(TDataSetListener* listener)
{
    std::erase(m_listeners, listener);
}

void TCachedDataSet::Scrolled()
{
    if (m_disableCount > 0)
        return;
    for (TDataSetListener* l : std::vector(m_listeners))
        l->CurrentChanged();
    for (const auto& hook : std::vector(m_afterScroll))
        hook.second(*this);
}

void TCachedDataSet::NotifyDataSetChanged()
{
    if (m_disableCount > 0)
        return;
    for (TDataSetListener* l : std::vector(m_listeners))
        l->DataSetChanged();
}

void TCachedDataSet::NotifyRecordChanged()
{
    if (m_disableCount > 0)
        return;
    for (TDataSetListener* l : std::vector(m_listeners))
        l->RecordChanged();
}

void TCachedDataSet::NotifyStateChanged()
{
    if (m_disableCount > 0)
        return;
    for (TDataSetListener* l : std::vector(m_listeners))
        l->StateChanged();
}
