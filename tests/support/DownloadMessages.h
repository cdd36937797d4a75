#pragma once

// What a download worker reported, collected from its thread.

#include "device/DownloadThread.h"

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

using TMessage = std::pair<int, std::uint32_t>;

class TMessages
{
public:
    TDownloadThread::TNotify Callback()
    {
        return [this](int param, std::uint32_t value) {
            std::lock_guard lock(m_mutex);
            m_list.emplace_back(param, value);
        };
    }
    std::vector<TMessage> List() const
    {
        std::lock_guard lock(m_mutex);
        return m_list;
    }
    std::vector<std::uint32_t> Progress() const
    {
        std::vector<std::uint32_t> progress;
        for (const auto& [param, value] : List()) {
            if (param == TDownloadThread::ProgressParam)
                progress.push_back(value);
        }
        return progress;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<TMessage> m_list;
};
