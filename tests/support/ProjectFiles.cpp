#include "tests/support/ProjectFiles.h"

#include <sstream>

TRows Query(const std::string& path, const std::string& sql)
{
    TConnection c;
    c.Attach(path, "SYSDBA", "vaultword", "ASCII");
    auto st = c.Prepare(sql);
    st->Open();
    TRows rows;
    while (st->Fetch()) {
        rows.emplace_back();
        for (std::size_t i = 0; i < st->ColumnCount(); ++i)
            rows.back().push_back(st->Column(i));
    }
    st->CloseCursor();
    st.reset();
    c.Detach();
    return rows;
}

void Execute(const std::string& path, const std::string& sql)
{
    TConnection c;
    c.Attach(path, "SYSDBA", "vaultword", "ASCII");
    c.ExecuteImmediate(sql);
    c.Detach();
}

void Execute(const std::string& path, const std::string& sql, const std::vector<TValue>& params)
{
    TConnection c;
    c.Attach(path, "SYSDBA", "vaultword", "ASCII");
    {
        auto st = c.Prepare(sql);
        for (std::size_t i = 0; i < params.size(); ++i)
            st->SetParam(i, params[i]);
        st->Execute();
    }
    c.Detach();
}

namespace {

std::string Show(const TValue& v)
{
    std::ostringstream s;
    if (IsNull(v))
        s << "<null>";
    else if (auto i = std::get_if<std::int64_t>(&v))
        s << *i;
    else if (auto d = std::get_if<TDateTime>(&v))
        s << d->Value;
    else
        s << std::get<std::string>(v).size() << ':' << std::hash<std::string>{}(std::get<std::string>(v));
    return s.str();
}

} // namespace

std::string ProjectContents(const std::string& path)
{
    std::string text;
    for (const auto& row : Query(path,
             "SELECT MEASURE_DATE, MEASURE_TIME, MEASURE_NUMBER, MEASURE_DATA, MEASURE_COMMENT "
             "FROM MEASURE_RESULT_TABLE ORDER BY MEASURE_DATE, MEASURE_NUMBER")) {
        for (const TValue& v : row)
            text += Show(v) + ' ';
        text += '\n';
    }
    for (const auto& row :
        Query(path, "SELECT DEVICE_NAME, DEVICE_DATA_VERSION, PROJECT_DESCRIPTION FROM SYSTEM_TABLE"))
        for (const TValue& v : row)
            text += Show(v) + ' ';
    return text;
}

TMsrResult NumberedRecord(double begin, std::int32_t number, std::uint32_t n)
{
    TMsrResult r;
    r.BeginDateTime = begin;
    r.DataVersion = MSR_DATA_VERSION;
    r.MeasureNumber = number;
    r.CementMass = 400;
    r.Duration = 10 * n;
    r.Period = 10;
    r.ConcretionTime = 28;
    for (int a = 0; a < 4; ++a) {
        TSampleArray s(n);
        for (std::uint32_t j = 0; j < n; ++j)
            s[j] = static_cast<float>(number * 100 + a * 10 + static_cast<int>(j));
        r.Data.push_back(s);
    }
    return r;
}
