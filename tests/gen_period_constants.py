#!/usr/bin/env python3
"""Prints the expected period table as hexadecimal doubles.

Each ratio 2^(k/12.0) is evaluated with 300-bit arithmetic (mpmath) and rounded
once to the nearest double through an exact fraction; the period is then the
double quotient of 1/110 and that ratio, as IEEE division rounds it.
"""
from fractions import Fraction

import mpmath

mpmath.mp.prec = 300


def nearest_double(x):
    man, exp = int(x.man), int(x.exp)
    exact = Fraction(man) * 2 ** exp if exp >= 0 else Fraction(man, 2 ** -exp)
    return float(exact)  # Fraction -> float rounds correctly


base = 1 / 110
periods = [base / nearest_double(mpmath.power(2, mpmath.mpf(k / 12.0))) for k in range(48)]
for row in range(0, 48, 4):
    print("    " + ", ".join(p.hex() for p in periods[row:row + 4]) + ",")
