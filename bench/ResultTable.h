// The benchmark's printed table: each figure beside its floor, with the ratio.
#pragma once

#include <string>
#include <vector>

struct ResultRow {
    std::string figure;
    std::string driver;
    std::string floor;
    std::string ratio;
    std::string target;
};

class ResultTable {
public:
    void Add(ResultRow row) { rows_.push_back(std::move(row)); }
    void Print() const;

private:
    std::vector<ResultRow> rows_;
};

std::string Micros(double micros);
std::string Millis(double millis);
std::string PerSecond(double rate);
std::string Bytes(double bytes);
// "1.40x", "0.0031x"; "-" when the floor is not above zero.
std::string Ratio(double value, double floor);
