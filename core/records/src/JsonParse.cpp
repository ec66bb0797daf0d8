// parseJSON: Boost.JSON's parser with a DOM builder of our own, so that numbers with a fraction
// or an exponent are converted by std::from_chars (correctly rounded) from their own text.

#include <charconv>
#include <string>

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>

#include "quorvane/Json.hpp"

namespace quorvane {

namespace {

// The same as Boost.JSON's own builder (boost/json/detail/handler.hpp), but for on_double.
struct ExactNumberBuilder {
    static constexpr std::size_t max_object_size = boost::json::object::max_size();
    static constexpr std::size_t max_array_size = boost::json::array::max_size();
    static constexpr std::size_t max_key_size = boost::json::string::max_size();
    static constexpr std::size_t max_string_size = boost::json::string::max_size();

    boost::json::value_stack stack;
    std::string numberParts;  // a number's text split across writes; whole texts never split one

    ExactNumberBuilder(unsigned char* buffer, std::size_t size)
        : stack(boost::json::storage_ptr(), buffer, size)
    {
    }

    bool on_document_begin(boost::json::error_code&) { return true; }
    bool on_document_end(boost::json::error_code&) { return true; }
    bool on_object_begin(boost::json::error_code&) { return true; }
    bool on_object_end(std::size_t n, boost::json::error_code&)
    {
        stack.push_object(n);
        return true;
    }
    bool on_array_begin(boost::json::error_code&) { return true; }
    bool on_array_end(std::size_t n, boost::json::error_code&)
    {
        stack.push_array(n);
        return true;
    }
    bool on_key_part(boost::json::string_view s, std::size_t, boost::json::error_code&)
    {
        stack.push_chars(s);
        return true;
    }
    bool on_key(boost::json::string_view s, std::size_t, boost::json::error_code&)
    {
        stack.push_key(s);
        return true;
    }
    bool on_string_part(boost::json::string_view s, std::size_t, boost::json::error_code&)
    {
        stack.push_chars(s);
        return true;
    }
    bool on_string(boost::json::string_view s, std::size_t, boost::json::error_code&)
    {
        stack.push_string(s);
        return true;
    }
    bool on_number_part(boost::json::string_view s, boost::json::error_code&)
    {
        numberParts.append(s.data(), s.size());
        return true;
    }
    bool on_int64(std::int64_t i, boost::json::string_view, boost::json::error_code&)
    {
        numberParts.clear();
        stack.push_int64(i);
        return true;
    }
    bool on_uint64(std::uint64_t u, boost::json::string_view, boost::json::error_code&)
    {
        numberParts.clear();
        stack.push_uint64(u);
        return true;
    }
    bool on_double(double d, boost::json::string_view s, boost::json::error_code&)
    {
        std::string_view text(s.data(), s.size());
        if (!numberParts.empty()) {
            numberParts.append(text);
            text = numberParts;
        }
        // Out of range (a magnitude past what a double holds) keeps Boost's reading.
        double exact = 0;
        auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), exact);
        if (status == std::errc() && end == text.data() + text.size())
            d = exact;
        numberParts.clear();
        stack.push_double(d);
        return true;
    }
    bool on_bool(bool b, boost::json::error_code&)
    {
        stack.push_bool(b);
        return true;
    }
    bool on_null(boost::json::error_code&)
    {
        stack.push_null();
        return true;
    }
    bool on_comment_part(boost::json::string_view, boost::json::error_code&) { return true; }
    bool on_comment(boost::json::string_view, boost::json::error_code&) { return true; }
};

}  // namespace

boost::json::value parseJSON(std::string_view text, boost::json::error_code& error)
{
    unsigned char buffer[BOOST_JSON_STACK_BUFFER_SIZE];
    boost::json::basic_parser<ExactNumberBuilder> parser(boost::json::parse_options(), buffer, sizeof buffer);
    parser.reset();
    parser.handler().stack.reset(boost::json::storage_ptr());
    std::size_t used = parser.write_some(false, text.data(), text.size(), error);
    if (!error && used < text.size())
        error = boost::json::error::extra_data;
    if (error)
        return nullptr;
    return parser.handler().stack.release();
}

boost::json::value parseJSON(std::string_view text)
{
    boost::json::error_code error;
    boost::json::value value = parseJSON(text, error);
    if (error)
        boost::throw_exception(boost::system::system_error(error));
    return value;
}

}  // namespace quorvane
