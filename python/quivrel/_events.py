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
from typing import Any, Hashable, List, Optional, Tuple

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


def _order_values(column: pd.Series, name: Hashable) -> Tuple[np.ndarray, bool]:
    """The order column as float64 numbers, or as int64 nanoseconds when it
    holds times; and whether it holds times."""
    if pd.api.types.is_bool_dtype(column):
        raise ValueError(f"order column {name!r} holds booleans, not numbers or times")
    if pd.api.types.is_datetime64_any_dtype(column):
        if getattr(column.dt, "tz", None) is not None:
            column = column.dt.tz_convert("UTC").dt.tz_localize(None)
        return column.to_numpy(dtype="datetime64[ns]").astype(np.int64), True
    if pd.api.types.is_numeric_dtype(column):
        values = column.to_numpy(dtype=np.float64)
        if not np.isfinite(values).all():
            raise ValueError(f"order column {name!r} holds a value that is not finite")
        return values, False
    try:
        values = pd.to_numeric(column).to_numpy(dtype=np.float64)
        if np.isfinite(values).all():
            return values, False
    except (ValueError, TypeError):
        pass
    try:
        times = pd.to_datetime(column, utc=True)
    except (ValueError, TypeError, OverflowError):
        raise ValueError(
            f"order column {name!r} holds values that are neither numbers nor times") from None
    return times.dt.tz_localize(None).to_numpy(dtype="datetime64[ns]").astype(np.int64), True


def _gap(session_gap: Any, is_time: bool) -> Optional[float]:
    """The session gap in the order column's unit (nanoseconds for times)."""
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
        gap = float(session_gap)
        if not (gap >= 0 and math.isfinite(gap)):
            raise ValueError(f"session_gap must be a number of 0 or more, not {session_gap!r}")
        return gap
    raise ValueError(f"session_gap must be a pd.Timedelta or a number, not {session_gap!r}")


def events_to_words(df: Any, seq: Hashable, order: Hashable, item: Hashable,
                    session_gap: Any) -> Tuple[array.array, List[Hashable], int]:
    """Dataset words of the event log, the item labels by code (in order of
    first occurrence) and the number of sequences."""
    if not isinstance(df, pd.DataFrame):
        raise ValueError(f"df must be a pandas DataFrame, not {type(df).__name__}")
    seq_column = _column(df, seq, "seq")
    order_column = _column(df, order, "order")
    item_column = _column(df, item, "item")
    values, is_time = _order_values(order_column, order)
    gap = _gap(session_gap, is_time)

    seq_codes, _ = pd.factorize(seq_column, sort=False)
    item_codes, uniques = pd.factorize(item_column, sort=False)
    labels = uniques.tolist()
    # By sequence, then order value, then item: np.lexsort is stable, and
    # within an itemset the items are listed by code without repeats.
    rank = np.lexsort((item_codes, values, seq_codes))

    words = array.array("i")
    sequences = 0
    previous = None  # (sequence, order value, item) of the last event written
    for k in rank.tolist():
        s, o, i = int(seq_codes[k]), values[k], int(item_codes[k])
        if previous is None:
            pass
        elif s != previous[0] or (gap is not None and o - previous[1] > gap):
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
