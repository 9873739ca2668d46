#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

namespace orvek::base {

/// The pieces of a text between each separator, read in place: "a//b" gives "a", "", "b" and an
/// empty text one empty piece. Paths and listings are walked this way without copying them.
class Pieces {
public:
    class Iterator {
    public:
        using iterator_concept = std::input_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;

        Iterator() noexcept = default;
        Iterator(std::string_view text, char separator) noexcept
            : m_text(text), m_separator(separator) {
            find();
        }

        std::string_view operator*() const noexcept {
            return m_text.substr(m_start, m_end - m_start);
        }
        Iterator& operator++() noexcept {
            if (m_end == m_text.size())
                m_done = true;
            else {
                m_start = m_end + 1;
                find();
            }
            return *this;
        }
        Iterator operator++(int) noexcept {
            auto before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const Iterator& iterator, std::default_sentinel_t) noexcept {
            return iterator.m_done;
        }

    private:
        void find() noexcept {
            const auto end = m_text.find(m_separator, m_start);
            m_end = end == std::string_view::npos ? m_text.size() : end;
        }

        std::string_view m_text;
        char m_separator = '\0';
        std::size_t m_start = 0;
        std::size_t m_end = 0;
        bool m_done = false;
    };

    Pieces(std::string_view text, char separator) noexcept : m_text(text), m_separator(separator) {}

    [[nodiscard]] Iterator begin() const noexcept { return {m_text, m_separator}; }
    [[nodiscard]] std::default_sentinel_t end() const noexcept { return {}; }

private:
    std::string_view m_text;
    char m_separator;
};

} // namespace orvek::base
