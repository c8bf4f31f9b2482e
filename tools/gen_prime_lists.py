#!/usr/bin/env python3
"""Generate the compiled-in prime lists of the parameter presets.

Usage: tools/gen_prime_lists.py [output_dir]      (default: src/arith)

Writes PrimeLists.cpp next to PrimeLists.hpp. The output is deterministic: the
same table always yields the same primes, and the primes are part of every
preset context's identity hash, so a change here invalidates saved objects.

How a list is built
-------------------
Every list is described level by level as a sequence of segments. A segment
holds primes close to one power of two 2^c: `below` primes just under 2^c
(bit length c) and `above` primes just over 2^c (bit length c + 1). Primes are
taken nearest first from 2^c -/+ k*M + 1 (k = 1, 2, ...), with M = 4N when every
prescribed prime of the list allows it (so the list also serves the double
degree and the cyclic transform), otherwise M = 2N.

Some positions are prescribed: fixed values, and primes shared with a related
list (a small companion shares its parent's first primes, an outsourcing
companion its parent's base and top primes, the presets that reuse another
preset's scale factors share its first primes, and a few families share
their base prime so that their sparse companion fits all of them).

Inside a segment the order of the free primes is chosen from the top level
down so that the default scales stay on their integer sizes: the scale of
level l - 1 is twice that of level l minus log2(q_l) (less an integer
correction), so its deviation from the integer size doubles at every level
and takes away log2(q_l) - round(log2(q_l)). Primes on both sides of 2^c
cancel each other; a one-sided run is met with the deviation it will take
away. A greedy pass over the nearest primes is tried first; where it leaves a
deviation above SCALE_TARGET, a beam search may also look at primes a little
farther out (near 2^25 to 2^31 the primes = 1 mod 4N are too sparse for the
nearest ones to cancel). Temporary primes are ordered nearest first.

The script checks every list against the bit-length profile table below,
and the default scales of every preset that derives them from its own primes
against their intended sizes, before it writes anything.
"""

import math
import os
import sys
import textwrap

# ---------------------------------------------------------------------------
# Primality (deterministic for 64-bit integers)

_MR_BASES = (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37)


def is_prime(n):
    if n < 2:
        return False
    for p in _MR_BASES:
        if n % p == 0:
            return n == p
    d, s = n - 1, 0
    while d % 2 == 0:
        d //= 2
        s += 1
    for a in _MR_BASES:
        x = pow(a, d, n)
        if x in (1, n - 1):
            continue
        for _ in range(s - 1):
            x = x * x % n
            if x == n - 1:
                break
        else:
            return False
    return True


# ---------------------------------------------------------------------------
# Segments

class Seg:
    def __init__(self, below, above, c):
        self.below, self.above, self.c = below, above, c

    def count(self):
        return self.below + self.above


def B(n, c):
    """n primes just below 2^c (c bits)."""
    return Seg(n, 0, c)


def A(n, c):
    """n primes just above 2^c (c + 1 bits)."""
    return Seg(0, n, c)


def X(below, above, c):
    """primes on both sides of 2^c, mixed."""
    return Seg(below, above, c)


# ---------------------------------------------------------------------------
# The presets.
#
# name, log2 degree, chain_length L, num_tp K, factor model, base segment,
# quantize segments (level 1 upwards), temporary segments, prescribed primes.
#
# Factor models (how the default scales are derived from the primes):
#   boot  - bootstrappable: the top scale is set by the base prime
#   plain - the top scale is log2 of the top prime
#   clean - cleaning presets: the top scale is the rounded top prime size
#   gap   - bootstrappable with the gap resolved automatically: the top scale
#           is log2 of the base prime and every level below follows from the
#           primes alone, with no integer corrections. The one oversized
#           "gap" prime must therefore have the rounded size 2 * upper -
#           lower (upper: the size of the base prime and the primes above the
#           gap, lower: the size below it), else every scale below it runs
#           away: with primes of rounded size 45 above the gap and 37 below,
#           the gap prime must round to 53 bits, so it lies just over 2^53,
#           not just under 2^54 (both have bit length 54)
#   other - the scales come from another preset; the order only follows the
#           same rule as 'boot'
#
# Prescribed primes: `fixed` maps a position (negative counts from the end)
# to a value; `share` lists (first position, source preset, first source
# position, count).

P = {}


def preset(key, name, logn, L, K, model, base, quant, temp, fixed=None,
           share=None, same_as=None):
    P[key] = dict(key=key, name=name, logn=logn, L=L, K=K, model=model,
                  base=base, quant=quant, temp=temp, fixed=fixed or {},
                  share=share or [], same_as=same_as)


def alias(key, name, logn, L, K, of):
    """A preset holding exactly the list of preset `of`."""
    P[key] = dict(key=key, name=name, logn=logn, L=L, K=K, same_as=of)


# Sizes given as fixed primes
FVA_BASE = 2305843009146585089        # 2^61 - 2^26 + 1
FVA_LAST = 9007199086968833           # 2^53 - 5 * 2^25 + 1
FGB_BASE = 288230376147386369         # largest prime = 1 mod 2^17 below 2^58
FGB_Q1 = 4398044938241                # 2^42 - 3 * 2^19 + 1
FGB_LAST = 1152921504598720513        # 2^60 - 31 * 2^18 + 1
SGD0_TP = 576460752300015617          # 2^59 - 13 * 2^18 + 1
FGF_BASE = 288230376135196673         # largest prime = 1 mod 2^18 below 2^58
FGFO0_TP = 2305843009191936001        # 2^61 - 83 * 2^18 + 1
LOW_BASE = 1125899902124033           # 2^50 - 9 * 2^19 + 1
BIG_TP = 2305843009224179713          # 2^61 + 5 * 2^21 + 1, the one 62-bit prime
FGH_BASE = 281474976317441            # 2^48 - 3 * 2^17 + 1
FGH_LAST = 562949950537729            # 2^49 - 11 * 2^18 + 1
G10_BASE = 4398044938241              # 2^42 - 3 * 2^19 + 1
G10_LAST = 2305843009202159617        # 2^61 - 11 * 2^20 + 1
KAPLO_LAST = 2305843008872644609      # 2^61 - 1301 * 2^18 + 1
CLEAN2_LAST = 2305843008849051649     # 2^61 - 1391 * 2^18 + 1
G8A_BASE = 35184372744193             # 2^45 + 5 * 2^17 + 1

SS7 = [1125899902124033, 4398044938241, 4398021869569, 4398021345281,
       4398018723841, 4398010859521, 4398007713793, 4398006140929]
SD3 = [140737487306753, 2199020634113, 2199013294081, 2199010148353]

# LWE preset value -> (name, ring preset whose list begins with it, length)
LWE = {
    0: ("SS7", 19, 8),
    1: ("SD3", 20, 4),
    3: ("FGbD12L0", 44, 1),
    4: ("FGbD12L1", 3, 2),
    5: ("Discrete_G8A_LWE", 80, 1),
}
LWE_VALUES = {0: SS7, 1: SD3, 3: [FGB_BASE], 4: [FGB_BASE, FGB_Q1],
              5: [G8A_BASE]}

preset(0, "FVa", 17, 30, 10, "plain", B(1, 61), [X(16, 13, 51)], [B(10, 53)],
       fixed={0: FVA_BASE, -1: FVA_LAST})
# The bootstrap scale comes from level 15 (encryption level 14 plus 1): the
# 61-bit primes sit on levels 15 to 26, where the modular reduction
# multiplies (their rounded sizes must all be that of level 15, or the
# integer corrections move the products off scale), and the 57-bit ones on
# the CoeffToSlot levels 27 to 29, whose corrections its constant absorbs.
preset(1, "FVb", 17, 30, 10, "boot", B(1, 61),
       [X(8, 5, 51), B(1, 55), B(12, 61), B(3, 57)], [B(10, 61)])
# The 60-bit primes come right above the encryption level (9), so the
# bootstrap scale is 2^60 and the modular reduction, which multiplies on
# levels 20 to 10, runs on levels without an integer correction; the 56-bit
# primes take the CoeffToSlot levels 21 to 23, whose corrections its
# constant absorbs.
preset(2, "FGa", 16, 24, 4, "boot", B(1, 60),
       [B(3, 45), B(6, 48), B(11, 60), B(3, 56)], [B(4, 61)])
preset(3, "FGb", 16, 25, 5, "boot", B(1, 58), [B(12, 42), B(12, 58)],
       [B(3, 59), B(2, 60)], fixed={0: FGB_BASE, 1: FGB_Q1, -1: FGB_LAST})
# The primes of the bootstrap scale's size (58 bits) come right above the
# encryption level, where the modular reduction multiplies: its products keep
# the scale only on levels without an integer correction. The 56- and 57-bit
# primes take the top (CoeffToSlot) levels, whose corrections the CoeffToSlot
# constant absorbs, as the 35-bit ones take the SlotToCoeff levels 1 to 3.
preset(5, "FGbSSE", 16, 24, 6, "boot", B(1, 58),
       [B(3, 35), X(4, 6, 42), B(7, 58), B(2, 56), B(1, 57)],
       [B(4, 59), B(2, 60)], share=[(0, 3, 0, 1)])
preset(12, "FTa", 15, 20, 2, "boot", B(1, 38),
       [X(4, 3, 28), B(1, 33), B(8, 38), B(3, 41)], [B(2, 42)])
# As for FGa: the 49-bit primes on levels 5 to 12 (bootstrap scale and
# modular reduction), the 47-bit ones on the CoeffToSlot levels 13 to 15.
preset(13, "FTb", 15, 16, 1, "boot", B(1, 49),
       [B(3, 33), B(1, 36), B(8, 49), B(3, 47)], [B(1, 54)])
preset(14, "ST19", 15, 20, 1, "plain", B(1, 50), [B(19, 40)], [B(1, 50)])
preset(15, "ST14", 15, 15, 5, "plain", B(1, 48), [B(14, 42)], [B(5, 46)])
preset(16, "ST11", 15, 12, 4, "plain", B(1, 61), [X(8, 3, 51)], [B(4, 61)])
preset(17, "ST8", 15, 9, 3, "plain", B(1, 61), [X(6, 2, 51)], [B(3, 61)])
preset(18, "ST7", 15, 8, 4, "plain", B(1, 61), [X(6, 1, 51)], [B(4, 61)])
preset(19, "SS7", 14, 8, 2, "plain", B(1, 50), [B(7, 42)], [B(2, 46)],
       fixed={i: p for i, p in enumerate(SS7)})
preset(20, "SD3", 13, 4, 1, "plain", B(1, 47), [B(3, 41)], [B(1, 47)],
       fixed={i: p for i, p in enumerate(SD3)})
# As for FVb: the 61-bit primes on levels 14 to 26 (bootstrap scale and
# modular reduction), one 57-bit prime on the encryption level 13 and the
# 57-, 57- and 58-bit ones on the CoeffToSlot levels 27 to 29.
preset(22, "FVc", 17, 30, 10, "boot", B(1, 61),
       [B(12, 54), B(1, 57), B(13, 61), B(2, 57), B(1, 58)], [B(10, 61)])
alias(23, "FX", 6, 25, 5, 3)
alias(24, "FGd", 16, 25, 5, 3)
preset(25, "SGd0", 16, 1, 1, "plain", B(1, 58), [], [B(1, 59)],
       fixed={0: FGB_BASE, 1: SGD0_TP})
preset(26, "FGbD12NS6L1", 12, 2, 1, "other", B(1, 58), [B(1, 42)], [B(1, 51)],
       share=[(0, 3, 0, 2), (2, 30, 1, 1)])
alias(27, "FGbD12NS3L1", 12, 2, 1, 26)
alias(28, "FGbD12NS2L1", 12, 2, 1, 26)
alias(29, "FGbD12NS1L1", 12, 2, 1, 26)
preset(30, "FGbD9R3L0", 3, 1, 1, "other", B(1, 58), [], [B(1, 51)],
       share=[(0, 3, 0, 1)])
preset(38, "FGxCOEFF", 16, 24, 6, "boot", B(1, 58), [X(5, 8, 42), B(10, 58)],
       [B(4, 59), B(2, 60)], share=[(0, 25, 0, 1)])
alias(39, "SGxCOEFF0", 16, 1, 1, 25)
# As for FGa: the bootstrap scale comes from level 11 (encryption level 7
# plus 4 with coefficient bootstrapping), so the 42-bit primes sit on levels
# 11 to 17, where the modular reduction multiplies, and the 38-bit ones on
# the CoeffToSlot levels 18 to 20.
preset(40, "FTxCOEFF", 15, 21, 3, "boot", B(1, 43),
       [B(3, 25), X(4, 3, 31), X(3, 4, 42), X(1, 2, 38)], [B(3, 45)])
preset(41, "STxCOEFF0", 15, 1, 1, "plain", B(1, 43), [], [B(1, 54)],
       share=[(0, 40, 0, 1)])
alias(42, "SD3D6R2", 6, 4, 1, 20)
alias(43, "FGbL0", 16, 1, 1, 30)
alias(44, "FGbD12L0", 12, 1, 1, 30)
alias(45, "FGbD9R3L0", 9, 1, 1, 30)
alias(46, "FGbD8R4L0", 8, 1, 1, 30)
alias(47, "FGbD6R6L0", 6, 1, 1, 30)
preset(48, "FGbL7", 16, 20, 5, "boot", B(1, 58), [B(7, 42), B(12, 58)],
       [B(3, 59), B(2, 60)],
       share=[(0, 3, 0, 8), (8, 3, 13, 12), (20, 3, 25, 5)])
preset(49, "FGbSmall", 16, 5, 4, "other", B(1, 58), [B(4, 42)],
       [B(3, 59), B(1, 60)], share=[(0, 3, 0, 5), (5, 3, 25, 4)])
preset(50, "FGf", 16, 25, 5, "boot", B(1, 58),
       [X(1, 2, 36), B(10, 42), B(11, 58)], [B(3, 59), B(2, 60)],
       fixed={0: FGF_BASE})
preset(51, "FGfSmall", 16, 4, 3, "other", B(1, 58), [X(1, 2, 36)],
       [B(3, 61)], share=[(0, 50, 0, 4)])
preset(52, "FGfO", 16, 21, 5, "other", B(1, 58),
       [B(8, 61), B(1, 42), B(11, 58)], [B(5, 61)],
       share=[(0, 50, 0, 1), (9, 50, 13, 12)])
preset(53, "FGfO0", 16, 1, 1, "plain", B(1, 58), [], [B(1, 61)],
       fixed={0: FGF_BASE, 1: FGFO0_TP})
preset(54, "FGfL7", 16, 20, 5, "boot", B(1, 58),
       [X(1, 2, 40), B(5, 42), B(11, 58)], [B(3, 59), B(2, 60)],
       share=[(0, 53, 0, 1)])
preset(55, "FGfOL7", 16, 18, 6, "other", B(1, 58),
       [B(5, 58), B(1, 42), B(11, 58)], [B(6, 61)],
       share=[(0, 54, 0, 1), (6, 54, 8, 12)])
preset(56, "FGfL7Small", 16, 5, 4, "other", B(1, 58),
       [X(1, 2, 40), B(1, 42)], [B(4, 61)], share=[(0, 54, 0, 5)])
preset(57, "FGfL7Low", 16, 20, 6, "boot", B(1, 50),
       [X(1, 3, 28), X(1, 2, 28), B(1, 28), X(7, 4, 50)], [B(6, 61)],
       fixed={0: LOW_BASE})
preset(58, "FGfOL7Low", 16, 17, 7, "other", B(1, 50),
       [A(1, 50), X(2, 1, 50), B(1, 28), X(7, 4, 50)], [B(6, 61), A(1, 61)],
       fixed={0: LOW_BASE, -1: BIG_TP},
       share=[(5, 57, 8, 12), (17, 57, 20, 6)])
preset(59, "FGfL7SmallLow", 16, 5, 3, "other", B(1, 50), [X(1, 3, 28)],
       [B(3, 61)], share=[(0, 57, 0, 5), (5, 57, 20, 3)])
preset(60, "FGfO0Low", 16, 1, 1, "plain", B(1, 50), [], [B(1, 61)],
       fixed={0: LOW_BASE})
preset(61, "FGfL0", 16, 1, 1, "other", B(1, 58), [], [B(1, 51)],
       share=[(0, 50, 0, 1)])
alias(62, "FGfD12L0", 12, 1, 1, 61)
preset(63, "FGh", 16, 35, 7, "boot", B(1, 48), [X(11, 11, 30), X(3, 9, 48)],
       [X(4, 3, 49)], fixed={0: FGH_BASE, -1: FGH_LAST})
preset(64, "FGhL0", 16, 1, 1, "other", B(1, 48), [], [B(1, 47)],
       share=[(0, 63, 0, 1)])
alias(65, "FGhD12L0", 12, 1, 1, 64)
# The scale rule corrects by the rounded size of each prime: the three
# 59-bit primes lie just above 2^58 and round to 58 bits like the five just
# below, so the eight of them sit on the levels from the double-angle level
# (encryption level + 2 with re-remove-I: 13 here, 14 to 16 for FGSb to
# FGSd) up through the modular reduction, and the 56-, 56- and 57-bit primes
# on the CoeffToSlot levels, whose corrections its constant absorbs.
preset(66, "FGSa", 16, 24, 6, "boot", B(1, 59),
       [B(3, 35), X(2, 7, 42), X(5, 3, 58), B(2, 56), B(1, 57)],
       [B(4, 59), B(2, 60)])
preset(67, "SGSa0", 16, 1, 1, "plain", B(1, 59), [], [B(1, 59)],
       share=[(0, 66, 0, 1)])
preset(68, "FGSb", 16, 25, 5, "boot", B(1, 59),
       [B(3, 35), X(2, 8, 42), X(5, 3, 58), B(2, 56), B(1, 57)],
       [B(4, 59), B(1, 60)], share=[(0, 66, 0, 1)])
alias(69, "SGSb0", 16, 1, 1, 67)
preset(70, "FGSc", 16, 27, 3, "boot", B(1, 59),
       [B(3, 35), X(3, 9, 42), X(5, 3, 58), B(2, 56), B(1, 57)],
       [B(2, 59), B(1, 60)], share=[(0, 66, 0, 1)])
alias(71, "SGSc0", 16, 1, 1, 67)
preset(72, "FGSd", 16, 28, 4, "boot", B(1, 59),
       [B(3, 35), X(3, 10, 42), X(5, 3, 58), B(2, 56), B(1, 57)],
       [B(3, 59), B(1, 60)], share=[(0, 66, 0, 1)])
alias(73, "SGSd0", 16, 1, 1, 67)
preset(74, "FGCa", 16, 24, 6, "boot", B(1, 59), [X(5, 7, 42), X(7, 4, 58)],
       [B(4, 59), B(2, 60)], share=[(0, 66, 0, 1)])
alias(75, "SGCa0", 16, 1, 1, 67)
preset(76, "FGe", 16, 25, 5, "boot", B(1, 58),
       [X(1, 2, 36), B(9, 42), B(12, 58)], [B(3, 59), B(2, 60)])
preset(77, "FGeO", 16, 21, 5, "other", B(1, 58), [B(8, 61), B(12, 58)],
       [B(5, 61)], share=[(0, 76, 0, 1), (9, 76, 13, 12)])
alias(78, "Discrete_G8", 16, 23, 6, 80)
preset(79, "Discrete_G8_Sparse", 16, 1, 1, "other", A(1, 45), [], [B(1, 61)],
       share=[(0, 80, 0, 1)])
preset(80, "Discrete_G8A", 16, 23, 6, "gap", A(1, 45),
       [X(2, 2, 37), X(4, 3, 37), A(1, 53), X(4, 6, 45)], [B(6, 61)],
       fixed={0: G8A_BASE})
preset(81, "Discrete_G8A_Small", 16, 5, 4, "other", A(1, 45), [X(2, 2, 37)],
       [B(4, 61)], share=[(0, 80, 0, 5), (5, 80, 23, 4)])
preset(82, "Discrete_G8A_OBTS", 16, 19, 9, "other", A(1, 45),
       [B(6, 58), B(1, 59), A(1, 53), X(4, 6, 45)], [B(9, 61)],
       share=[(0, 80, 0, 1), (8, 80, 12, 11)])
preset(83, "Discrete_G8A_SHE", 16, 12, 8, "other", A(1, 45), [X(6, 5, 37)],
       [B(8, 61)], share=[(0, 80, 0, 12)])
alias(84, "Discrete_G8A_Sparse", 16, 1, 1, 79)
alias(85, "Discrete_G8A_L0", 16, 1, 1, 79)
alias(86, "Discrete_G8A_D12L0", 12, 1, 1, 79)
alias(87, "Discrete_G8A_D9R3L0", 9, 1, 1, 79)
preset(88, "Discrete_G8B", 16, 23, 6, "gap", B(1, 39),
       [X(1, 2, 33), X(4, 4, 33), A(1, 45), X(5, 5, 39)], [B(6, 61)])
preset(89, "Discrete_G8B_Small", 16, 4, 3, "other", B(1, 39), [X(1, 2, 33)],
       [B(3, 61)], share=[(0, 88, 0, 4), (4, 88, 23, 3)])
preset(90, "Discrete_G8B_OBTS", 16, 18, 8, "other", B(1, 39),
       [B(1, 58), B(5, 61), A(1, 45), X(5, 5, 39)], [B(8, 61)],
       share=[(0, 88, 0, 1), (7, 88, 12, 11)])
preset(91, "Discrete_G8B_SHE", 16, 12, 7, "other", B(1, 39), [X(5, 6, 33)],
       [B(7, 61)], share=[(0, 88, 0, 12)])
preset(92, "Discrete_G8B_Sparse", 16, 1, 1, "other", B(1, 39), [], [B(1, 61)],
       share=[(0, 88, 0, 1)])
preset(93, "Discrete_G10", 16, 25, 4, "boot", B(1, 42), [X(12, 12, 42)],
       [B(4, 61)], fixed={0: G10_BASE, -1: G10_LAST})
preset(94, "Discrete_G10_Sparse", 16, 1, 1, "plain", B(1, 42), [], [B(1, 42)],
       share=[(0, 93, 0, 1)])
preset(95, "Discrete_G10A", 16, 25, 4, "gap", A(1, 45),
       [X(7, 6, 37), A(1, 53), X(4, 6, 45)], [B(4, 61)],
       share=[(0, 80, 0, 1)])
alias(96, "Discrete_G10A_Sparse", 16, 1, 1, 79)
preset(97, "Discrete_G12", 16, 27, 6, "boot", B(1, 41), [X(12, 14, 40)],
       [B(6, 61)])
preset(98, "Discrete_G12_Sparse", 16, 1, 1, "plain", B(1, 41), [], [B(1, 42)],
       share=[(0, 97, 0, 1)])
preset(99, "KAPLO_BTS", 16, 22, 6, "boot", B(1, 58),
       [X(2, 1, 37), X(3, 4, 37), X(6, 5, 58)], [B(6, 61)],
       fixed={0: FGF_BASE, -1: KAPLO_LAST})
alias(100, "KAPLO_BTS_SPARSE", 16, 1, 1, 53)
preset(101, "KAPLO_BTS_OUTSOURCE", 16, 18, 6, "other", B(1, 58),
       [B(6, 61), X(6, 5, 58)], [B(6, 61)],
       share=[(0, 99, 0, 1), (7, 99, 11, 11)])
preset(102, "KAPLO_BTS_SMALL", 16, 4, 3, "other", B(1, 58), [X(2, 1, 37)],
       [B(3, 61)], share=[(0, 99, 0, 4), (4, 99, 22, 3)])
alias(103, "KAPLO_BTS_L0", 16, 1, 1, 53)
alias(104, "KAPLO_BTS_D12L0", 12, 1, 1, 53)
preset(105, "KAPLO_2_BTS", 16, 25, 5, "boot", B(1, 58),
       [X(2, 1, 36), X(7, 3, 37), X(10, 1, 58)], [B(3, 59), B(2, 60)],
       share=[(0, 53, 0, 1)])
alias(106, "KAPLO_2_BTS_SPARSE", 16, 1, 1, 53)
preset(107, "KAPLO_2_BTS_OUTSOURCE", 16, 20, 5, "other", B(1, 58),
       [B(1, 59), B(7, 60), X(10, 1, 58)], [B(5, 61)],
       share=[(0, 105, 0, 1), (9, 105, 14, 11)])
preset(108, "KAPLO_2_BTS_SMALL", 16, 4, 3, "other", B(1, 58), [X(2, 1, 36)],
       [B(3, 61)], share=[(0, 105, 0, 4)])
alias(109, "KAPLO_2_BTS_L0", 16, 1, 1, 53)
alias(110, "KAPLO_2_BTS_D12L0", 12, 1, 1, 53)
preset(111, "KAPLO_2_CLEANING", 16, 13, 6, "clean", B(1, 61),
       [B(4, 60), X(5, 3, 30)], [B(6, 61)],
       fixed={0: FGFO0_TP, -1: CLEAN2_LAST})
preset(112, "KAPLO_3_BTS", 16, 26, 6, "boot", B(1, 58),
       [X(2, 1, 35), X(4, 7, 35), X(10, 1, 58)],
       [B(3, 59), B(2, 60), B(1, 61)], share=[(0, 53, 0, 1)])
alias(113, "KAPLO_3_BTS_SPARSE", 16, 1, 1, 53)
preset(114, "KAPLO_3_BTS_OUTSOURCE", 16, 20, 10, "other", B(1, 58),
       [B(8, 61), X(10, 1, 58)], [B(10, 61)],
       share=[(0, 112, 0, 1), (9, 112, 15, 11)])
preset(115, "KAPLO_3_BTS_OUTSOURCE_REAL", 16, 20, 7, "other", B(1, 58),
       [B(8, 61), X(10, 1, 58)], [B(7, 61)], share=[(0, 114, 0, 27)])
preset(116, "KAPLO_3_BTS_SMALL", 16, 4, 3, "other", B(1, 58), [X(2, 1, 35)],
       [B(3, 61)], share=[(0, 112, 0, 4)])
alias(117, "KAPLO_3_BTS_L0", 16, 1, 1, 53)
alias(118, "KAPLO_3_BTS_D12L0", 12, 1, 1, 53)
preset(119, "KAPLO_3_CLEANING", 16, 14, 6, "clean", B(1, 61),
       [X(2, 2, 59), X(4, 5, 28)], [B(6, 61)])

# presets that must satisfy p = 1 mod 4N (their chain uses the square of a
# primitive 4N-th root)
RE_REMOVE_I = {50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 66, 67, 68, 69, 70,
               71, 72, 73, 74, 75, 99, 100, 101, 102, 103, 104, 105, 106, 107,
               108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118, 119}

# ---------------------------------------------------------------------------
# Bit-length profile of every list: base bits, {bits: count} of the quantize
# primes and of the temporary primes. Checked against the generated lists.

PROFILE = """
0   61 | 16x51 13x52 | 10x53
1   61 | 8x51 5x52 1x55 3x57 12x61 | 10x61
2   60 | 3x45 6x48 3x56 11x60 | 4x61
3   58 | 12x42 12x58 | 3x59 2x60
5   58 | 3x35 4x42 6x43 2x56 1x57 7x58 | 4x59 2x60
12  38 | 4x28 3x29 1x33 8x38 3x41 | 2x42
13  49 | 3x33 1x36 3x47 8x49 | 1x54
14  50 | 19x40 | 1x50
15  48 | 14x42 | 5x46
16  61 | 8x51 3x52 | 4x61
17  61 | 6x51 2x52 | 3x61
18  61 | 6x51 1x52 | 4x61
19  50 | 7x42 | 2x46
20  47 | 3x41 | 1x47
22  61 | 12x54 3x57 1x58 13x61 | 10x61
23  58 | 12x42 12x58 | 3x59 2x60
24  58 | 12x42 12x58 | 3x59 2x60
25  58 | | 1x59
26  58 | 1x42 | 1x51
27  58 | 1x42 | 1x51
28  58 | 1x42 | 1x51
29  58 | 1x42 | 1x51
30  58 | | 1x51
38  58 | 5x42 8x43 10x58 | 4x59 2x60
39  58 | | 1x59
40  43 | 3x25 4x31 3x32 1x38 2x39 3x42 4x43 | 3x45
41  43 | | 1x54
42  47 | 3x41 | 1x47
43  58 | | 1x51
44  58 | | 1x51
45  58 | | 1x51
46  58 | | 1x51
47  58 | | 1x51
48  58 | 7x42 12x58 | 3x59 2x60
49  58 | 4x42 | 3x59 1x60
50  58 | 1x36 2x37 10x42 11x58 | 3x59 2x60
51  58 | 1x36 2x37 | 3x61
52  58 | 1x42 11x58 8x61 | 5x61
53  58 | | 1x61
54  58 | 1x40 2x41 5x42 11x58 | 3x59 2x60
55  58 | 1x42 16x58 | 6x61
56  58 | 1x40 2x41 1x42 | 4x61
57  50 | 3x28 5x29 7x50 4x51 | 6x61
58  50 | 1x28 9x50 6x51 | 6x61 1x62
59  50 | 1x28 3x29 | 3x61
60  50 | | 1x61
61  58 | | 1x51
62  58 | | 1x51
63  48 | 11x30 11x31 3x48 9x49 | 4x49 3x50
64  48 | | 1x47
65  48 | | 1x47
66  59 | 3x35 2x42 7x43 2x56 1x57 5x58 3x59 | 4x59 2x60
67  59 | | 1x59
68  59 | 3x35 2x42 8x43 2x56 1x57 5x58 3x59 | 4x59 1x60
69  59 | | 1x59
70  59 | 3x35 3x42 9x43 2x56 1x57 5x58 3x59 | 2x59 1x60
71  59 | | 1x59
72  59 | 3x35 3x42 10x43 2x56 1x57 5x58 3x59 | 3x59 1x60
73  59 | | 1x59
74  59 | 5x42 7x43 7x58 4x59 | 4x59 2x60
75  59 | | 1x59
76  58 | 1x36 2x37 9x42 12x58 | 3x59 2x60
77  58 | 12x58 8x61 | 5x61
78  46 | 6x37 5x38 4x45 6x46 1x54 | 6x61
79  46 | | 1x61
80  46 | 6x37 5x38 4x45 6x46 1x54 | 6x61
81  46 | 2x37 2x38 | 4x61
82  46 | 4x45 6x46 1x54 6x58 1x59 | 9x61
83  46 | 6x37 5x38 | 8x61
84  46 | | 1x61
85  46 | | 1x61
86  46 | | 1x61
87  46 | | 1x61
88  39 | 5x33 6x34 5x39 5x40 1x46 | 6x61
89  39 | 1x33 2x34 | 3x61
90  39 | 5x39 5x40 1x46 1x58 5x61 | 8x61
91  39 | 5x33 6x34 | 7x61
92  39 | | 1x61
93  42 | 12x42 12x43 | 4x61
94  42 | | 1x42
95  46 | 7x37 6x38 4x45 6x46 1x54 | 4x61
96  46 | | 1x61
97  41 | 12x40 14x41 | 6x61
98  41 | | 1x42
99  58 | 5x37 5x38 6x58 5x59 | 6x61
100 58 | | 1x61
101 58 | 6x58 5x59 6x61 | 6x61
102 58 | 2x37 1x38 | 3x61
103 58 | | 1x61
104 58 | | 1x61
105 58 | 2x36 8x37 3x38 10x58 1x59 | 3x59 2x60
106 58 | | 1x61
107 58 | 10x58 2x59 7x60 | 5x61
108 58 | 2x36 1x37 | 3x61
109 58 | | 1x61
110 58 | | 1x61
111 61 | 5x30 3x31 4x60 | 6x61
112 58 | 6x35 8x36 10x58 1x59 | 3x59 2x60 1x61
113 58 | | 1x61
114 58 | 10x58 1x59 8x61 | 10x61
115 58 | 10x58 1x59 8x61 | 7x61
116 58 | 2x35 1x36 | 3x61
117 58 | | 1x61
118 58 | | 1x61
119 61 | 4x28 5x29 2x59 2x60 | 6x61
"""

# Lists that are equal element by element.
GROUPS = [[3, 23, 24], [20, 42], [25, 39], [26, 27, 28, 29],
          [30, 43, 44, 45, 46, 47],
          [53, 100, 103, 104, 106, 109, 110, 113, 117, 118], [61, 62],
          [64, 65], [67, 69, 71, 73, 75], [78, 80],
          [79, 84, 85, 86, 87, 96]]

TOTAL_PRIMES = 1556

# Largest deviation of a default scale from its integer size that a list may
# have before its levels may choose among primes beyond the nearest ones
# (EXTRA_STEPS more on each side).
SCALE_TARGET = 0.005
# Largest deviation a written list may have at all.
SCALE_LIMIT = 0.04
# FVb and FVc keep one-sided 57-bit primes on their top (CoeffToSlot) levels,
# where the modular reduction needs the 61-bit ones below them: every prime
# there lies under its power of two, so nothing cancels the deviation, which
# doubles down the chain to about a third of a bit at level 1. The levels of
# the bootstrap stay within 1e-4 bits; the low levels only take a default
# scale that much above the size of their primes.
SCALE_LIMITS = {1: 0.35, 22: 0.35}
EXTRA_STEPS = (0, 2, 8, 32)
BEAM = 64


def parse_profile():
    prof = {}
    for line in PROFILE.strip().splitlines():
        head, quant, temp = line.split("|")
        key, base = (int(v) for v in head.split())

        def counts(text):
            out = {}
            for item in text.split():
                n, b = item.split("x")
                out[int(b)] = out.get(int(b), 0) + int(n)
            return out
        prof[key] = (base, counts(quant), counts(temp))
    return prof


# ---------------------------------------------------------------------------
# Construction


def log2_exact(p):
    return math.log2(float(p))


def eps(p):
    lg = log2_exact(p)
    return lg - math.floor(lg + 0.5)


_SEQ = {}


def prime_seq(c, side, M):
    """Primes = 1 mod M next to 2^c on one side, nearest first (cached)."""
    if (c, side, M) not in _SEQ:
        _SEQ[(c, side, M)] = ([], iter(_candidates(c, side, M)))
    return _SEQ[(c, side, M)]


def _candidates(c, side, M):
    k = 1
    while True:
        v = (1 << c) - k * M + 1 if side < 0 else (1 << c) + k * M + 1
        if side < 0 and v <= (1 << (c - 1)):
            return
        if is_prime(v):
            yield v
        k += 1


def take(c, side, M, n, used, also=()):
    """The n nearest primes of prime_seq(c, side, M) outside used and also
    (fewer when the side runs out)."""
    seen, gen = prime_seq(c, side, M)
    out = []
    i = 0
    while len(out) < n:
        if i == len(seen):
            v = next(gen, None)
            if v is None:
                break
            seen.append(v)
        v = seen[i]
        i += 1
        if v not in used and v not in also:
            out.append(v)
    return out


def group_of(key):
    for g in GROUPS:
        if key in g:
            return g
    return [key]


def build(key, lists, report):
    d = P[key]
    L, K = d["L"], d["K"]
    n = L + K
    segs = [d["base"]] + d["quant"] + d["temp"]
    assert sum(s.count() for s in segs) == n, key
    seg_of = []          # position -> segment index
    for i, s in enumerate(segs):
        seg_of += [i] * s.count()
    pre = [None] * n
    for first, src, sfirst, cnt in d["share"]:
        for j in range(cnt):
            pre[first + j] = lists[src][sfirst + j]
    for pos, v in d["fixed"].items():
        pre[pos % n] = v

    members = group_of(key)
    nmax = max(1 << P[m]["logn"] for m in members)
    need4 = any(m in RE_REMOVE_I for m in members)
    given = [v for v in pre if v is not None]
    M = 4 * nmax if all(v % (4 * nmax) == 1 for v in given) else 2 * nmax
    if need4 and M != 4 * nmax:
        raise RuntimeError("preset %d needs p = 1 mod 4N" % key)
    for v in given:
        if v % M != 1:
            raise RuntimeError("prescribed prime %d of preset %d is not 1 mod %d"
                               % (v, key, M))

    def attempt(extra, search):
        used = set(given)
        out = list(pre)
        # sides still to fill in every segment
        left = []
        for i, s in enumerate(segs):
            here = [pre[p] for p in range(n) if seg_of[p] == i and pre[p] is not None]
            nb = s.below - sum(1 for v in here if v < (1 << s.c))
            na = s.above - sum(1 for v in here if v > (1 << s.c))
            if nb < 0 or na < 0:
                raise RuntimeError("preset %d: prescribed primes do not fit "
                                   "segment %d" % (key, i))
            left.append({-1: nb, +1: na})

        def window(i, side, count, also=()):
            return take(segs[i].c, side, M, count, used, also)

        def draw(i, side, value):
            used.add(value)
            left[i][side] -= 1

        # base
        if out[0] is None:
            v = window(0, -1 if left[0][-1] else +1, 1)[0]
            draw(0, -1 if v < (1 << segs[0].c) else +1, v)
            out[0] = v
        # quantize, top level down. Each level aims at a planned deviation:
        # 0 at level 0 and, going up, half of (the plan below + the deviation
        # of a typical prime of the level: 0 where the segment has primes on
        # both sides of 2^c, else the middle one of its nearest primes). A
        # one-sided run of coarse primes at the bottom is thereby met with
        # the deviation it will cancel. Among the primes still needed and
        # `extra` more on each side, a level takes the one closest to plan.
        model = d["model"]
        delta = -1.3e-10 if model == "clean" else (
            None if model == "plain" else eps(out[0]))
        typical = {}
        for i, s in enumerate(segs):
            if s.below and s.above:
                typical[i] = 0.0
            else:
                side = -1 if s.below else +1
                near = window(i, side, s.count())
                typical[i] = eps(near[len(near) // 2]) if near else 0.0
        plan = [0.0] * L
        for level in range(1, L):
            e = (eps(out[level]) if out[level] is not None
                 else typical[seg_of[level]])
            plan[level] = (plan[level - 1] + e) / 2.0
        if not search:
            # greedy: each level takes the candidate closest to plan
            dl = delta
            for level in range(L - 1, 0, -1):
                i = seg_of[level]
                if out[level] is None:
                    c = segs[i].c
                    cands = []
                    for side in (-1, +1):
                        if left[i][side]:
                            cands += [(side, v) for v in
                                      window(i, side, left[i][side] + extra)]

                    def after(v):
                        return eps(v) if dl is None else 2.0 * dl - eps(v)
                    best = min(cands, key=lambda m: (abs(after(m[1]) - plan[level - 1]),
                                                     abs(m[1] - (1 << c)), m[1]))
                    draw(i, best[0], best[1])
                    out[level] = best[1]
                e = eps(out[level])
                dl = e if dl is None else 2.0 * dl - e
            beam = None
        else:
            beam = [(0.0, 0, delta, {})]
        # beam search over the free levels: a state is (worst distance from
        # plan so far, summed distance from the powers of two, current
        # deviation, chosen primes); states within SCALE_TARGET / 2 of plan
        # compete on nearness.
        for level in range(L - 1, 0, -1) if beam else ():
            i = seg_of[level]
            c = segs[i].c
            nxt = []
            for worst, dist, dl, chosen in beam:
                if out[level] is not None:
                    opts = [(out[level], 0)]
                else:
                    taken = set(chosen.values())
                    opts = []
                    for side in (-1, +1):
                        need = left[i][side] - sum(
                            1 for lv, v in chosen.items() if seg_of[lv] == i
                            and (v < (1 << c)) == (side < 0))
                        if need > 0:
                            opts += [(v, abs(v - (1 << c)) // M) for v in
                                     window(i, side, need + extra, taken)]
                for v, k in opts:
                    e = eps(v)
                    nd = e if dl is None else 2.0 * dl - e
                    ch = chosen if out[level] is not None else {**chosen, level: v}
                    nxt.append((max(worst, abs(nd - plan[level - 1])), dist + k, nd, ch))
            nxt.sort(key=lambda s: (max(s[0], SCALE_TARGET / 2), s[1], abs(s[2])))
            beam = nxt[:BEAM]
        for lv, v in (beam[0][3].items() if beam else ()):
            i = seg_of[lv]
            draw(i, -1 if v < (1 << segs[i].c) else +1, v)
            out[lv] = v
        # temporary primes: nearest first
        for pos in range(L, n):
            if out[pos] is None:
                i = seg_of[pos]
                c = segs[i].c
                cands = []
                for side in (-1, +1):
                    if left[i][side]:
                        cands += [(abs(v - (1 << c)), side, v)
                                  for v in window(i, side, 1)]
                best = min(cands)
                draw(i, best[1], best[2])
                out[pos] = best[2]
        assert all(v is not None for v in out)
        return out

    # widen the choice only as far as needed to keep the scales on size
    best = None
    for search in (False, True):
        for extra in EXTRA_STEPS:
            out = attempt(extra, search)
            dev = scale_deviation(key, out)
            if best is None or dev < best[0]:
                best = (dev, out)
            if dev <= SCALE_TARGET:
                break
        if best[0] <= SCALE_TARGET:
            break
    report.append((key, M))
    return best[1]


def generate():
    lists = {}
    moduli = []
    pending = sorted(P)
    while pending:
        progress = False
        for key in list(pending):
            d = P[key]
            deps = ([d["same_as"]] if d.get("same_as") is not None else
                    [s[1] for s in d["share"]])
            if all(dep in lists for dep in deps):
                if d.get("same_as") is not None:
                    lists[key] = lists[d["same_as"]]
                else:
                    lists[key] = build(key, lists, moduli)
                pending.remove(key)
                progress = True
        if not progress:
            raise RuntimeError("circular sharing among %s" % pending)
    return lists, dict(moduli)


# ---------------------------------------------------------------------------
# Checks


def check(lists):
    prof = parse_profile()
    assert sorted(lists) == sorted(prof), "key sets differ"
    total = sum(len(v) for v in lists.values())
    assert total == TOTAL_PRIMES, total
    big = set()
    for key, lst in lists.items():
        d = P[key]
        L, K = d["L"], d["K"]
        assert len(lst) == L + K, key
        assert len(set(lst)) == len(lst), key
        base, quant, temp = prof[key]
        assert lst[0].bit_length() == base, key

        def counts(vals):
            out = {}
            for v in vals:
                out[v.bit_length()] = out.get(v.bit_length(), 0) + 1
            return out
        assert counts(lst[1:L]) == quant, (key, counts(lst[1:L]), quant)
        assert counts(lst[L:]) == temp, (key, counts(lst[L:]), temp)
        for g in group_of(key):
            two_n = 2 << P[g]["logn"]
            assert all(p % two_n == 1 for p in lst), key
            if g in RE_REMOVE_I:
                assert all(p % (2 * two_n) == 1 for p in lst), key
        for p in lst:
            assert (1 << 24) < p < (1 << 62) and is_prime(p), (key, p)
            if p >= (1 << 61):
                big.add(p)
    assert big == {BIG_TP}, big
    assert lists[58][-1] == BIG_TP
    for g in GROUPS:
        assert all(lists[k] == lists[g[0]] for k in g), g
    for v, (name, ring, cnt) in LWE.items():
        assert lists[ring][:cnt] == LWE_VALUES[v], name
    for key, lst in lists.items():
        if P[key].get("same_as") is not None:
            continue        # the list of another preset, checked there
        dev = scale_deviation(key, lst)
        assert dev <= SCALE_LIMITS.get(key, SCALE_LIMIT), (
            "preset %d: a default scale lies %.3g bits off its size" % (key, dev))


# ---------------------------------------------------------------------------
# Output


def seg_comment(key, pos):
    L = P[key]["L"]
    if pos == 0:
        return "base"
    if pos < L:
        return "quantize"
    return "temporary"


def emit(lists, path):
    reps = []
    seen = {}
    for key in sorted(lists):
        rep = P[key].get("same_as")
        while rep is not None and P[rep].get("same_as") is not None:
            rep = P[rep]["same_as"]
        if rep is None:
            reps.append(key)
            seen[key] = key
        else:
            seen[key] = rep

    out = []
    w = out.append
    w("// Generated by tools/gen_prime_lists.py; do not edit by hand.")
    w("//")
    w("// Every prime is part of the identity hash of the contexts made from")
    w("// its preset: changing one breaks every saved object of that preset.")
    w("")
    w('#include "arith/PrimeLists.hpp"')
    w('#include "foundation/WordArith.hpp"')
    w("")
    w("#include <cstddef>")
    w("#include <cstdint>")
    w("#include <iterator>")
    w("#include <map>")
    w("#include <utility>")
    w("#include <vector>")
    w("")
    w("namespace Quelt {")
    w("namespace {")
    w("")
    for key in reps:
        d = P[key]
        lst = lists[key]
        sharers = [k for k in sorted(lists) if seen[k] == key and k != key]
        title = "%d %s" % (key, d["name"])
        if sharers:
            title += " (also %s)" % ", ".join(
                "%d %s" % (k, P[k]["name"]) for k in sharers)
        for line in textwrap.wrap(title, 77):
            w("// " + line)
        w("// N = 2^%d, chain_length %d, num_tp %d"
          % (max(P[k]["logn"] for k in [key] + sharers), d["L"], d["K"]))
        for first, src, sfirst, cnt in d["share"]:
            span = ("prime %d" % first if cnt == 1 else
                    "primes %d-%d" % (first, first + cnt - 1))
            sspan = ("%d" % sfirst if cnt == 1 else
                     "%d-%d" % (sfirst, sfirst + cnt - 1))
            w("// %s = %s of preset %d %s" % (span, sspan, src, P[src]["name"]))
        w("constexpr u64 kPrimes%d[] = {" % key)
        L = d["L"]
        groups = [("base", lst[:1]), ("quantize", lst[1:L]),
                  ("temporary", lst[L:])]
        for label, vals in groups:
            if not vals:
                continue
            w("    // %s" % label)
            for i in range(0, len(vals), 3):
                chunk = vals[i:i + 3]
                w("    " + " ".join("0x%016x," % v for v in chunk))
        w("};")
        w("")
    w("template <std::size_t Size>")
    w("std::vector<u64> toVector(u64 const (&primes)[Size])")
    w("{")
    w("    return std::vector<u64>(std::begin(primes), std::end(primes));")
    w("}")
    w("")
    w("} // namespace")
    w("")
    w("std::vector<std::uint64_t> const &getPresetPrimeList(std::uint32_t preset)")
    w("{")
    w("    static std::map<std::uint32_t, std::vector<u64>> const kLists = [] {")
    w("        std::pair<std::uint32_t, std::vector<u64>> const entries[] = {")
    for key in sorted(lists):
        w("            {%d, toVector(kPrimes%d)}, // %s"
          % (key, seen[key], P[key]["name"]))
    w("        };")
    w("        return std::map<std::uint32_t, std::vector<u64>>(")
    w("            std::begin(entries), std::end(entries));")
    w("    }();")
    w("    return kLists.at(preset);")
    w("}")
    w("")
    w("std::vector<std::uint64_t> const &getLWEPresetPrimeList(std::uint32_t preset)")
    w("{")
    w("    // each list is the beginning of the list of a ring preset")
    w("    static std::map<std::uint32_t, std::vector<u64>> const kLists = {")
    for v in sorted(LWE):
        name, ring, cnt = LWE[v]
        w("        // %s: the first %s of preset %d %s"
          % (name, "prime" if cnt == 1 else "%d primes" % cnt, ring,
             P[ring]["name"]))
        w("        {%d," % v)
        vals = LWE_VALUES[v]
        for i in range(0, len(vals), 3):
            chunk = ", ".join("0x%016x" % p for p in vals[i:i + 3])
            head = "         {" if i == 0 else "          "
            tail = "}}," if i + 3 >= len(vals) else ","
            w(head + chunk + tail)
    w("    };")
    w("    return kLists.at(preset);")
    w("}")
    w("")
    w("} // namespace Quelt")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


def rounded_size(p):
    return math.floor(log2_exact(p) + 0.5)


def intended_sizes(key, lst):
    """The size the default scale of every level should keep under the plain
    rule (models 'plain' and 'gap'): the rounded size of the prime the level
    is rescaled by (level 0: that of level 1). The level of the gap prime of
    a 'gap' preset keeps the size of the levels above it: squared and divided
    by the gap prime, it lands on the size of the levels below."""
    L = P[key]["L"]
    want = [rounded_size(lst[max(level, 1)]) for level in range(L)]
    if P[key]["model"] == "gap":
        gap = max(range(1, L), key=lambda level: lst[level])
        want[gap] = rounded_size(lst[gap + 1])
    return want


def scale_deviation(key, lst):
    """Largest |default scale - intended size| over the levels (0 when the
    scales are not the preset's own or there is a single level).

    The 'boot' and 'clean' rules correct every level by the change of rounded
    prime size, so only the fractional deviation can build up; the plain rule
    of 'plain' and 'gap' has no correction, so there the whole value is
    followed and a list whose rounded sizes do not fit together shows up as a
    runaway."""
    d = P[key]
    L = d["L"]
    model = d["model"]
    if model == "other" or L == 1:
        return 0.0
    if model in ("plain", "gap"):
        want = intended_sizes(key, lst)
        s = log2_exact(lst[0] if model == "gap" else lst[L - 1])
        worst = abs(s - want[L - 1])
        for level in range(L - 1, 0, -1):
            s = 2.0 * s - log2_exact(lst[level])
            worst = max(worst, abs(s - want[level - 1]))
        return worst
    delta = {"boot": eps(lst[0]), "clean": -1.3e-10}[model]
    worst = abs(delta)
    for level in range(L - 1, 0, -1):
        delta = 2.0 * delta - eps(lst[level])
        worst = max(worst, abs(delta))
    return worst


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "src", "arith")
    lists, moduli = generate()
    check(lists)
    emit(lists, os.path.join(outdir, "PrimeLists.cpp"))
    if os.environ.get("VERBOSE"):
        for key in sorted(moduli):
            print("%3d %-28s M=2^%d  max scale deviation %.2e"
                  % (key, P[key]["name"], moduli[key].bit_length() - 1,
                     scale_deviation(key, lists[key])))


if __name__ == "__main__":
    main()
