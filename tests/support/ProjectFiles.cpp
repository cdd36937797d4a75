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
    else if (auto x = std::get_if<double>(&v))
        s << *x;
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
    // The laboratory's additions, when the project has them; empty tables show as none.
    if (!Query(path, "SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'MEASURE_HISTORY_TABLE'").empty())
        for (const char* sql :
            {"SELECT MEASURE_NUMBER, CHANGED_BY, FIELD_NAME, OLD_VALUE, NEW_VALUE FROM MEASURE_HISTORY_TABLE "
             "ORDER BY MEASURE_HISTORY_TABLE_PK",
                "SELECT T.MEASURE_NUMBER, S.SAMPLE_CODE, S.CEMENT_TYPE, S.MANUFACTURER, S.BATCH_NUMBER, "
                "S.SAMPLING_DATE, S.MEASURED_STRENGTH, S.STRENGTH_TEST_DATE FROM MEASURE_SAMPLE_TABLE S "
                "JOIN MEASURE_RESULT_TABLE T ON T.MEASURE_RESULT_TABLE_PK = S.MEASURE_RESULT_TABLE_PK "
                "ORDER BY T.MEASURE_NUMBER",
                "SELECT MEASURE_NUMBER, MEASURE_DATE, MEASURE_DATA, MEASURE_COMMENT, DELETED_BY "
                "FROM MEASURE_DELETED_TABLE ORDER BY MEASURE_NUMBER",
                "SELECT T.MEASURE_NUMBER, O.MEASURE_DATA FROM MEASURE_ORIGINAL_TABLE O JOIN "
                "MEASURE_RESULT_TABLE T "
                "ON T.MEASURE_RESULT_TABLE_PK = O.MEASURE_RESULT_TABLE_PK ORDER BY T.MEASURE_NUMBER"})
            for (const auto& row : Query(path, sql)) {
                text += '\n';
                for (const TValue& v : row)
                    text += Show(v) + ' ';
            }
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
