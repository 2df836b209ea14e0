// A symbol on a printer's dots: how many whole dots each module gets, so
// that every bar and space is a whole number of the print head's dots.
// Stretching a symbol to a fractional number of dots per module makes its
// modules alternately one dot wider and narrower (2.6 dots a module become
// 2, 3, 3, 2, 3 ...); a thermal head's dot gain then closes the narrow
// spaces and the symbol no longer scans.
#pragma once

// The dots per module for a symbol of `modules` modules asked to be
// askedDots wide: the whole number nearest to askedDots / modules, the next
// smaller where that would make the symbol more than a tenth wider than
// asked, and never less than one.
int DotsPerModule(double askedDots, int modules);

// The dots per row for a two-dimensional symbol of `rows` rows asked to be
// askedDots high: the nearest whole number, at least one.
int DotsPerRow(double askedDots, int rows);
