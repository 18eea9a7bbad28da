// The mean of the last kWindow values added, with no allocation: for readings that jump with
// the order in which two threads happened to run.
#pragma once

template <int kWindow>
class CRunningMean {
public:
    void Reset()
    {
        for (int& v : values_) v = 0;
        sum_ = 0;
        next_ = count_ = 0;
    }
    void Add(int value)
    {
        sum_ += static_cast<long long>(value) - values_[next_];
        values_[next_] = value;
        next_ = (next_ + 1) % kWindow;
        if (count_ < kWindow) ++count_;
    }
    // 0 before the first value.
    int Value() const { return count_ ? static_cast<int>(sum_ / count_) : 0; }

private:
    int values_[kWindow] = {};
    long long sum_ = 0;
    int next_ = 0;
    int count_ = 0;
};
