"""quivrel: closed sequential patterns of sequences of itemsets, in Python.

A sequence is an ordered list of itemsets, an itemset a set of labels. A
pattern is contained in a sequence when its itemsets can be matched, in
order, to itemsets of the sequence that contain them; its support is the
number of sequences that contain it. A frequent pattern is closed when no
longer pattern that contains it has the same support.

    >>> import quivrel
    >>> visits = [["home", "search", ["cart", "checkout"]],
    ...           ["home", ["cart", "checkout"]],
    ...           ["search", "home"]]
    >>> for p in quivrel.mine(visits, 2):
    ...     print(p, p.support)
    (home)(cart checkout) 2
    (home) 3
    (search) 2

mine() takes sequences (or the path of a binary dataset file) and returns
the closed patterns; mine_events() takes a pandas DataFrame of events, as
`quivrel-convert fromcsv` reads a CSV file, and returns a DataFrame.
Mining runs without the GIL, writes no file, and stops at Ctrl-C with
KeyboardInterrupt.
"""

from __future__ import annotations

import array
import numbers
import os
from dataclasses import dataclass
from typing import Any, Hashable, Iterable, List, Optional, Tuple, Union

from . import _core

__all__ = ["DatasetError", "Pattern", "mine", "mine_events"]

# Stands for the caller's sequences in the messages of the dataset check.
_MEMORY_NAME = "<sequences>"


class DatasetError(Exception):
    """A dataset that cannot be mined: malformed, unreadable or missing.

    `message` is the text that the command line writes to "error.tmp"
    (for sequences given in memory, without advice on rewriting a file);
    `offset` is the word offset of a malformed dataset's first fault, None
    for other failures.
    """

    def __init__(self, message: str, offset: Optional[int] = None) -> None:
        super().__init__(message.rstrip("\n"))
        self.message = message
        self.offset = offset


@dataclass(frozen=True)
class Pattern:
    """One closed pattern.

    itemsets: the pattern's itemsets, each a tuple of the caller's labels;
    support: the number of sequences that contain it;
    ratio: support divided by the number of sequences.
    """

    itemsets: Tuple[Tuple[Hashable, ...], ...]
    support: int
    ratio: float

    def __str__(self) -> str:
        return "".join("(" + " ".join(str(x) for x in s) + ")" for s in self.itemsets)


def _threshold(support: Any) -> Tuple[str, int]:
    """The support as (fraction text, 0) or ("1", absolute count)."""
    if isinstance(support, bool):
        raise ValueError("support must be a fraction in (0, 1] or a count of sequences, not a bool")
    if isinstance(support, numbers.Integral):
        if support < 1:
            raise ValueError(f"a support count must be 1 or more, not {support}")
        return "1", int(support)
    if isinstance(support, numbers.Real):
        value = float(support)
        if not 0.0 < value <= 1.0:  # also refuses nan
            raise ValueError(f"a support fraction must lie in (0, 1], not {support!r}")
        # repr gives the shortest decimal that reads back as this float,
        # which the threshold then uses exactly.
        return repr(value), 0
    raise ValueError(
        f"support must be a fraction in (0, 1] or a count of sequences, not {support!r}")


def _threads(threads: Any) -> int:
    if isinstance(threads, bool) or not isinstance(threads, numbers.Integral):
        raise ValueError(f"threads must be a whole number, 1 or more, not {threads!r}")
    if not 1 <= threads <= 2**31 - 1:
        raise ValueError(f"threads must be 1 or more, not {threads}")
    return int(threads)


def _is_single_label(x: Any) -> bool:
    """A text, a byte string or anything not iterable is one label."""
    if isinstance(x, (str, bytes)):
        return True
    try:
        iter(x)
    except TypeError:
        return True
    return False


def _encode(sequences: Iterable) -> Tuple[array.array, List[Hashable], int]:
    """Dataset words for the sequences, the labels by code, and the count.

    Codes follow the order in which labels first occur, so each itemset of
    a result lists its labels in that order.
    """
    codes: dict = {}
    labels: List[Hashable] = []
    words = array.array("i")
    count = 0
    try:
        iterator = iter(sequences)
    except TypeError:
        raise ValueError("sequences must be an iterable of sequences or a dataset path") from None
    for seq in iterator:
        if isinstance(seq, (str, bytes)) or _is_single_label(seq):
            raise ValueError(f"each sequence must be an iterable of itemsets, not {seq!r}")
        for itemset in seq:
            items = (itemset,) if _is_single_label(itemset) else itemset
            row = set()
            for label in items:
                try:
                    code = codes.get(label)
                except TypeError:
                    raise ValueError(f"labels must be hashable, not {label!r}") from None
                if code is None:
                    code = len(labels)
                    codes[label] = code
                    labels.append(label)
                row.add(code)
            if row:  # an empty itemset is no itemset
                words.extend(sorted(row))
                words.append(-1)
        words.append(-2)
        count += 1
    return words, labels, count


def _raise_for(status: int, message: str, fault: Optional[int]) -> None:
    if status == 0:
        return
    if status == 1:
        raise DatasetError(message, fault)
    if status == _core.OUT_OF_MEMORY:
        raise MemoryError(message.strip())
    raise RuntimeError(message.strip() or f"quivrel: the run ended with status {status}")


def _mine_codes(sequences: Any, support: Any, threads: Any):
    """(patterns as (code itemsets, support), labels or None, sequence count)."""
    text, count = _threshold(support)
    nthreads = _threads(threads)
    if isinstance(sequences, (str, bytes, os.PathLike)):
        path = os.fsdecode(os.fspath(sequences))
        result = _core.mine_file(path, text, count, -1, nthreads)
        labels = None
    else:
        words, labels, n = _encode(sequences)
        if n == 0:
            return [], labels, 0
        result = _core.mine_words(words.tobytes(), _MEMORY_NAME, text, count, -1, nthreads)
    status, message, fault, n, found = result
    _raise_for(status, message, fault)
    return found, labels, n


def mine(sequences: Union[Iterable, str, os.PathLike], support: Union[float, int], *,
         threads: int = 1) -> List[Pattern]:
    """Mines the closed sequential patterns of `sequences`.

    sequences: an iterable of sequences. A sequence is an iterable of
        itemsets; an itemset is an iterable of hashable labels (ints,
        strings, anything hashable), or a single label standing for a
        one-item itemset (strings, bytes and anything not iterable are
        single labels; a tuple is an itemset). Repeated labels in an
        itemset count once; empty itemsets are skipped. The path of a
        binary dataset file (str or os.PathLike) is also accepted; its
        labels are then its item codes.
    support: a fraction of the sequences in (0, 1] (0.05: five percent), or
        an int, an absolute number of sequences (2: at least two). Note
        that 1 means one sequence and 1.0 all of them. A fraction is taken
        exactly as its shortest decimal, as the command line takes its
        text: 5 / 6 is 0.8333333333333334, which 5 of 6 sequences miss.
    threads: mining threads, an int of 1 or more.

    Returns the closed patterns whose support reaches the threshold, as
    Pattern objects (itemsets: a tuple of tuples of your labels, each
    itemset in the order in which its labels first occur in the input;
    support; ratio = support / number of sequences), in the order of the
    command line's ClosedMaxset.txt: below each pattern its extensions
    first, the pattern itself last.

    Raises ValueError for a bad argument, DatasetError for a dataset file
    that is malformed (with its word offset) or cannot be read, and
    MemoryError when memory runs out. Ctrl-C raises KeyboardInterrupt
    within a second. Mining releases the GIL and writes no file.
    """
    found, labels, n = _mine_codes(sequences, support, threads)
    patterns = []
    for itemsets, count in found:
        if labels is not None:
            itemsets = tuple(tuple(labels[c] for c in s) for s in itemsets)
        patterns.append(Pattern(itemsets, count, count / n))
    return patterns


def mine_events(df: Any, seq: Hashable, order: Hashable, item: Hashable,
                support: Union[float, int], *, session_gap: Any = None,
                threads: int = 1) -> Any:
    """Mines the closed sequential patterns of an event log in a DataFrame.

    The events are read as `quivrel-convert fromcsv` reads a CSV file:
    df[seq] names the sequence of each event, df[order] orders the events
    of a sequence (numbers, or times: datetime columns or ISO-8601 text),
    df[item] is the event's label. Whole numbers (an int64 column, or ints
    or integer text in an object column) are compared exactly, never as
    float64, so nanosecond timestamps that differ by 1 stay apart; other
    numbers are float64, and compared exactly against whole numbers.
    Events of one sequence with equal order values form one itemset;
    sequences are numbered in the order in which they first occur.
    session_gap (a pd.Timedelta, a timedelta or text such as "30m" for
    times; a number for numeric orders) starts a new sequence wherever the
    next event of a sequence lies more than the gap later.

    support and threads are as in mine().

    Returns a DataFrame, one row per closed pattern in the order of mine(),
    with the columns pattern (text such as "(home)(cart checkout)"),
    itemsets (a tuple of tuples of labels), support, ratio (support / number
    of sequences), items (number of items) and length (number of itemsets).
    pandas is imported only by this function.
    """
    from ._events import events_to_words

    import pandas as pd

    text, count = _threshold(support)
    nthreads = _threads(threads)
    words, labels, n = events_to_words(df, seq, order, item, session_gap)
    found: list = []
    if n > 0:
        status, message, fault, n, found = _core.mine_words(
            words.tobytes(), _MEMORY_NAME, text, count, -1, nthreads)
        _raise_for(status, message, fault)
    rows = []
    for codes, sup in found:
        itemsets = tuple(tuple(labels[c] for c in s) for s in codes)
        rows.append((str(Pattern(itemsets, sup, 0.0)), itemsets, sup, sup / n,
                     sum(len(s) for s in itemsets), len(itemsets)))
    return pd.DataFrame(rows, columns=["pattern", "itemsets", "support", "ratio", "items", "length"])
