"""Event log (a pandas DataFrame) to dataset words, the way `quivrel-convert
fromcsv` turns a CSV file into a dataset: sequences in order of first
occurrence, events by order value (input order among equals), equal values
one itemset, and a new sequence wherever the next event lies more than the
session gap later."""

from __future__ import annotations

import array
import datetime
import math
import numbers
import re
from fractions import Fraction
from typing import Any, Hashable, List, Optional, Tuple, Union

import numpy as np
import pandas as pd


def _column(df: Any, name: Hashable, role: str) -> pd.Series:
    if name not in df.columns:
        raise ValueError(f"{role} column {name!r} is not a column of the DataFrame")
    column = df[name]
    if isinstance(column, pd.DataFrame):
        raise ValueError(f"{role} column {name!r} names more than one column")
    missing = column.isna().to_numpy()
    if missing.any():
        raise ValueError(f"{role} column {name!r} is empty in row {int(np.argmax(missing))}")
    return column


# Whole numbers up to this size are exact in float64; beyond it a float64
# column would merge neighbours such as nanosecond timestamps that differ by 1.
_FLOAT_EXACT = 2**53
_WHOLE_TEXT = re.compile(r"\s*[+-]?[0-9]+\s*")


def _ranked(values: List[Any]) -> np.ndarray:
    """Sort keys for Python numbers of mixed kinds: the rank of each value
    among the distinct values, which Python orders exactly (an int against
    a float too)."""
    rank = {v: r for r, v in enumerate(sorted(set(values)))}
    return np.fromiter((rank[v] for v in values), dtype=np.int64, count=len(values))


def _exact_numbers(column: pd.Series, parsed: pd.Series) -> Optional[List[Any]]:
    """The values of an object column that pandas read as float64, with its
    whole numbers (ints, or text such as "1700000000123456789") as exact
    Python ints; None when float64 holds them all exactly."""
    values = parsed.tolist()
    exact = False
    for k, x in enumerate(column.tolist()):
        if isinstance(x, (int, np.integer)) and not isinstance(x, (bool, np.bool_)):
            whole = int(x)
        elif isinstance(x, str) and _WHOLE_TEXT.fullmatch(x):
            whole = int(x)
        else:
            continue
        values[k] = whole
        exact = exact or abs(whole) > _FLOAT_EXACT
    return values if exact else None


def _order_values(column: pd.Series, name: Hashable) -> Tuple[np.ndarray, List[Any], bool]:
    """The order column as sort keys for np.lexsort and as Python numbers
    (whole numbers as exact ints, other numbers as floats, times as int
    nanoseconds); and whether it holds times."""
    if pd.api.types.is_bool_dtype(column):
        raise ValueError(f"order column {name!r} holds booleans, not numbers or times")
    if pd.api.types.is_datetime64_any_dtype(column):
        if getattr(column.dt, "tz", None) is not None:
            column = column.dt.tz_convert("UTC").dt.tz_localize(None)
        keys = column.to_numpy(dtype="datetime64[ns]").astype(np.int64)
        return keys, keys.tolist(), True
    if pd.api.types.is_integer_dtype(column):
        # int64 as it is: float64 would round values beyond 2**53.
        if pd.api.types.is_unsigned_integer_dtype(column):
            values = column.tolist()
            if max(values, default=0) > np.iinfo(np.int64).max:
                return _ranked(values), values, False
        keys = column.to_numpy(dtype=np.int64)
        return keys, keys.tolist(), False
    if pd.api.types.is_numeric_dtype(column):
        keys = column.to_numpy(dtype=np.float64)
        if not np.isfinite(keys).all():
            raise ValueError(f"order column {name!r} holds a value that is not finite")
        return keys, keys.tolist(), False
    try:
        parsed = pd.to_numeric(column)
        if pd.api.types.is_integer_dtype(parsed):
            return _order_values(parsed, name)
        keys = parsed.to_numpy(dtype=np.float64)
        if np.isfinite(keys).all():
            # Whole numbers beyond 2**53 among decimals: kept exact.
            values = _exact_numbers(column, parsed)
            if values is not None:
                return _ranked(values), values, False
            return keys, keys.tolist(), False
    except (ValueError, TypeError):
        pass
    try:
        times = pd.to_datetime(column, utc=True)
    except (ValueError, TypeError, OverflowError):
        raise ValueError(
            f"order column {name!r} holds values that are neither numbers nor times") from None
    keys = times.dt.tz_localize(None).to_numpy(dtype="datetime64[ns]").astype(np.int64)
    return keys, keys.tolist(), True


def _gap(session_gap: Any, is_time: bool) -> Optional[Union[int, float]]:
    """The session gap in the order column's unit (nanoseconds for times);
    a whole number stays an int, exact against int order values."""
    if session_gap is None:
        return None
    if isinstance(session_gap, (str, datetime.timedelta, np.timedelta64)):
        if not is_time:
            raise ValueError("session_gap takes a plain number: the order column holds numbers")
        try:
            gap = pd.Timedelta(session_gap)
        except ValueError:
            raise ValueError(f"session_gap {session_gap!r} is not a duration") from None
        if gap is pd.NaT or gap.value < 0:
            raise ValueError(f"session_gap must not be negative, not {session_gap!r}")
        return gap.value
    if isinstance(session_gap, numbers.Real) and not isinstance(session_gap, bool):
        if is_time:
            raise ValueError("session_gap needs a duration (a pd.Timedelta such as "
                             "pd.Timedelta('30m')): the order column holds times")
        gap = int(session_gap) if isinstance(session_gap, numbers.Integral) else float(session_gap)
        if not (gap >= 0 and math.isfinite(gap)):
            raise ValueError(f"session_gap must be a number of 0 or more, not {session_gap!r}")
        return gap
    raise ValueError(f"session_gap must be a pd.Timedelta or a number, not {session_gap!r}")


def _beyond(earlier: Any, later: Any, gap: Union[int, float]) -> bool:
    """Whether `later` lies more than the gap after `earlier`: exact for two
    ints, and for an int against a float (where int - float would round the
    int); two floats subtract as float64."""
    if isinstance(earlier, int) != isinstance(later, int):
        return Fraction(later) - Fraction(earlier) > gap
    return later - earlier > gap


def events_to_words(df: Any, seq: Hashable, order: Hashable, item: Hashable,
                    session_gap: Any) -> Tuple[array.array, List[Hashable], int]:
    """Dataset words of the event log, the item labels by code (in order of
    first occurrence) and the number of sequences."""
    if not isinstance(df, pd.DataFrame):
        raise ValueError(f"df must be a pandas DataFrame, not {type(df).__name__}")
    seq_column = _column(df, seq, "seq")
    order_column = _column(df, order, "order")
    item_column = _column(df, item, "item")
    keys, values, is_time = _order_values(order_column, order)
    gap = _gap(session_gap, is_time)

    seq_codes, _ = pd.factorize(seq_column, sort=False)
    item_codes, uniques = pd.factorize(item_column, sort=False)
    labels = uniques.tolist()
    # By sequence, then order value, then item: np.lexsort is stable, and
    # within an itemset the items are listed by code without repeats.
    rank = np.lexsort((item_codes, keys, seq_codes))

    words = array.array("i")
    sequences = 0
    previous = None  # (sequence, order value, item) of the last event written
    for k in rank.tolist():
        s, o, i = int(seq_codes[k]), values[k], int(item_codes[k])
        if previous is None:
            pass
        elif s != previous[0] or (gap is not None and _beyond(previous[1], o, gap)):
            words.extend((-1, -2))
            sequences += 1
        elif o != previous[1]:
            words.append(-1)
        elif i == previous[2]:
            continue  # the same item twice in one itemset
        words.append(i)
        previous = (s, o, i)
    if previous is not None:
        words.extend((-1, -2))
        sequences += 1
    return words, labels, sequences
