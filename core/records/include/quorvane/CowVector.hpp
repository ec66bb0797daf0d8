#pragma once

// CowVector: a std::vector with copy-on-write value semantics, for the long lists of an account
// (its message history, its handoffs and its reply watches) and for request baselines.
//
// Every vault transaction copies the whole vault and compares the copy with the original, and the
// engine copies an account on every page change. With a CowVector a copy shares the elements; the
// first change through either copy gives that copy its own elements (one element-wise copy, and
// elements hold shared Text, so even that copies no characters). Two lists that still share their
// elements compare equal at once.
//
// Reading never copies: begin(), operator[], front() and the rest are const whether or not the list
// is, so a loop or a look-up over a list that changes nothing keeps it shared. Changing is always
// an explicit call: mutableAt(i) or mutableElements() for an element in place, and push_back,
// insert, erase, erase_if, clear for the list itself; each makes the elements unique first when
// they are shared. As with std::vector, a reference or iterator obtained from a changing call is
// invalidated by a later change of the list, and must not be used after the list was copied.

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace quorvane {

template <class T>
class CowVector {
public:
    using value_type = T;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = T&;
    using const_reference = const T&;
    using iterator = typename std::vector<T>::iterator;
    using const_iterator = typename std::vector<T>::const_iterator;

    CowVector() = default;
    CowVector(std::vector<T> elements)
        : rep_(elements.empty() ? nullptr : std::make_shared<std::vector<T>>(std::move(elements)))
    {
    }
    CowVector(std::initializer_list<T> elements)
        : rep_(elements.size() == 0 ? nullptr : std::make_shared<std::vector<T>>(elements))
    {
    }
    template <class InputIt>
    CowVector(InputIt first, InputIt last)
        : rep_(first == last ? nullptr : std::make_shared<std::vector<T>>(first, last))
    {
    }

    // Read-only view of the elements; never copies.
    const std::vector<T>& elements() const noexcept { return rep_ ? *rep_ : empty_(); }
    operator const std::vector<T>&() const noexcept { return elements(); }

    // The elements for changing, made unique first when they are shared.
    std::vector<T>& mutableElements()
    {
        if (!rep_)
            rep_ = std::make_shared<std::vector<T>>();
        else if (rep_.use_count() > 1)
            rep_ = std::make_shared<std::vector<T>>(*rep_);
        return *rep_;
    }

    size_type size() const noexcept { return elements().size(); }
    bool empty() const noexcept { return elements().empty(); }

    const_iterator begin() const noexcept { return elements().begin(); }
    const_iterator end() const noexcept { return elements().end(); }
    const_iterator cbegin() const noexcept { return elements().cbegin(); }
    const_iterator cend() const noexcept { return elements().cend(); }
    const T& operator[](size_type i) const { return elements()[i]; }
    const T& at(size_type i) const { return elements().at(i); }
    const T& front() const { return elements().front(); }
    const T& back() const { return elements().back(); }

    // The element at `i`, for changing in place (bounds-checked like at()).
    T& mutableAt(size_type i) { return mutableElements().at(i); }

    void push_back(const T& value) { mutableElements().push_back(value); }
    void push_back(T&& value) { mutableElements().push_back(std::move(value)); }
    template <class... Args>
    T& emplace_back(Args&&... args)
    {
        return mutableElements().emplace_back(std::forward<Args>(args)...);
    }
    void pop_back() { mutableElements().pop_back(); }
    void reserve(size_type n) { mutableElements().reserve(n); }
    void resize(size_type n) { mutableElements().resize(n); }
    void clear() { rep_.reset(); }

    // Positions come from begin() or cbegin() of this list: they are turned into an index before
    // the elements are made unique, so an iterator into shared elements stays meaningful.
    iterator insert(const_iterator pos, const T& value)
    {
        auto index = pos - cbegin();
        auto& v = mutableElements();
        return v.insert(v.begin() + index, value);
    }
    iterator insert(const_iterator pos, T&& value)
    {
        auto index = pos - cbegin();
        auto& v = mutableElements();
        return v.insert(v.begin() + index, std::move(value));
    }
    template <class InputIt>
    iterator insert(const_iterator pos, InputIt first, InputIt last)
    {
        auto index = pos - cbegin();
        auto& v = mutableElements();
        return v.insert(v.begin() + index, first, last);
    }
    iterator erase(const_iterator pos)
    {
        auto index = pos - cbegin();
        auto& v = mutableElements();
        return v.erase(v.begin() + index);
    }
    iterator erase(const_iterator first, const_iterator last)
    {
        auto from = first - cbegin();
        auto to = last - cbegin();
        auto& v = mutableElements();
        return v.erase(v.begin() + from, v.begin() + to);
    }

    // True when both share their elements (one is an unchanged copy of the other).
    bool sharesElementsWith(const CowVector& other) const noexcept { return rep_ == other.rep_; }

    friend bool operator==(const CowVector& a, const CowVector& b)
    {
        return a.rep_ == b.rep_ || a.elements() == b.elements();
    }
    friend bool operator==(const CowVector& a, const std::vector<T>& b) { return a.elements() == b; }

    // Found by unqualified calls, like std::erase_if for std::vector. Shared elements are only
    // made unique when something is actually removed.
    template <class Predicate>
    friend size_type erase_if(CowVector& list, Predicate predicate)
    {
        if (std::none_of(list.cbegin(), list.cend(), predicate))
            return 0;
        return std::erase_if(list.mutableElements(), predicate);
    }

private:
    static const std::vector<T>& empty_()
    {
        static const std::vector<T> none;
        return none;
    }

    std::shared_ptr<std::vector<T>> rep_;  // null: no elements, without an allocation
};

}  // namespace quorvane
