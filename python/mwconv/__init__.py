"""MacWrite documents converted and identified, as the mwconv command does.

    import mwconv
    html = mwconv.convert(open("Letter", "rb").read(), to="html")
    mwconv.convert_file("Letter", to="docx", output="Letter.docx")
    mwconv.identify("Letter")["generation"]

Failures raise NotMacWrite (the command's exit status 2) or ConversionError
(its exit status 3), with the message the command prints.  A damaged
document converts with what could be read (the command's status 4) and
warns with DamagedWarning; `warnings.simplefilter("error", DamagedWarning)`
makes that an exception.  A conversion
releases the GIL: threads convert in parallel.
"""

import json
import os
import threading
import warnings

from . import _mwconv

__version__ = _mwconv.__version__
__all__ = ["convert", "convert_file", "convert_container", "identify", "members", "Error", "NotMacWrite", "ConversionError", "DamagedWarning",
           "FORMATS", "SOURCES", "__version__"]

# The command's --to and --from names.
FORMATS = ("text", "markdown", "html", "rtf", "docx", "odt", "stream", "macwrite5", "pdf")
SOURCES = ("auto", "macwrite-ii", "macwrite5", "macwrite22", "stream", "text")
# File name extensions of outputs named after their input, as the command gives them.
EXTENSIONS = {"text": "txt", "markdown": "md", "html": "html", "rtf": "rtf", "docx": "docx", "odt": "odt",
              "stream": "stream", "macwrite5": "mw5", "pdf": "pdf"}


class Error(Exception):
    """A conversion that failed; `status` is the command's exit status."""

    def __init__(self, message, status):
        super().__init__(message)
        self.status = status


class NotMacWrite(Error):
    """The input is not a MacWrite document (the command's exit status 2)."""


class ConversionError(Error):
    """The document could not be read, converted or written (exit status 3)."""


class DamagedWarning(UserWarning):
    """The document is damaged: it was converted, and what could not be read
    is missing (the command's exit status 4)."""

    status = 4


def _plugin_path():
    """The converter plug-in: $MWCONV_PLUGIN, else the one beside this package."""
    given = os.environ.get("MWCONV_PLUGIN")
    if given:
        return given
    return os.path.join(os.path.dirname(os.path.abspath(__file__)), "libmacwrite.so")


_lock = threading.Lock()
_library = None


def _lib():
    global _library
    if _library is None:
        with _lock:
            if _library is None:
                try:
                    _library = _mwconv.Library(_plugin_path())
                except _mwconv.Error as e:
                    raise _error(e) from None
    return _library


def _error(e):
    status, message = e.args
    return (NotMacWrite if status == 2 else ConversionError)(message, status)


def _call(function, *args):
    try:
        return function(*args)
    except _mwconv.Error as e:
        raise _error(e) from None


def _options(source, to, fragment, macbinary, extra):
    if extra:
        raise TypeError("unknown option(s): " + ", ".join(sorted(extra)))
    return source, to, bool(fragment), bool(macbinary)


def convert(data, to="html", source="auto", *, fragment=False, macbinary=False, extract_media=None, name=None,
            **extra):
    """The document in `data` (bytes) converted to `to`; the output's bytes.

    `source` is the command's --from, `to` its --to; `fragment`,
    `macbinary` and `extract_media` (a folder) are its --fragment,
    --macbinary and --extract-media.  `name` names the document in messages
    and its title, as a file name does on the command line; without it the
    document is treated as the command treats its standard input.
    """
    source, to, fragment, macbinary = _options(source, to, fragment, macbinary, extra)
    output, damaged = _call(_lib().convert, bytes(data), source, to, fragment, macbinary, name or "",
                            os.fspath(extract_media) if extract_media else "")
    if damaged:
        warnings.warn(DamagedWarning(damaged), stacklevel=2)
    return output


def convert_file(path, to="html", output=None, source="auto", *, fragment=False, macbinary=False,
                 extract_media=None, **extra):
    """The file at `path` converted into `output` (by default beside it, the
    format's extension added to its name, as the command names a batch's
    outputs); returns the output's path.
    The output is replaced only when the conversion succeeded."""
    output, damaged = _convert_file(path, to, output, source, fragment, macbinary, extract_media, extra)
    if damaged:
        warnings.warn(DamagedWarning(damaged), stacklevel=2)
    return output


def _convert_file(path, to, output, source, fragment, macbinary, extract_media, extra):
    """convert_file's work: (output, the damaged document's message or "")."""
    source, to, fragment, macbinary = _options(source, to, fragment, macbinary, extra)
    path = os.fspath(path)
    output = os.fspath(output) if output is not None else path + "." + EXTENSIONS[to]
    return output, _call(_lib().convert_file, path, output, source, to, fragment, macbinary,
                         os.fspath(extract_media) if extract_media else "")


def convert_container(path, folder, to="html", source="auto", *, fragment=False, macbinary=False, force=False,
                      output_root=None, extract_media=None, **extra):
    """The container at `path` (a disk image, an archive, BinHex, MacBinary...)
    converted into `folder` as `mwconv -o` converts it: every MacWrite
    document inside, its folders mirrored, the format's extension added.
    Returns None for a file that is no container, else (walked, members):
    `walked` is true for a container of more than one wrapped file (counted
    as a container), `members` one (kind, status, message) per member, kind
    one of "converted", "damaged" (converted, status 4), "other" (not
    MacWrite), "alone" (the one file of a wrapper, not MacWrite), "failed"
    and "note".  `extract_media` is the
    run's media folder, `output_root` the run's output folder it mirrors."""
    source, to, fragment, macbinary = _options(source, to, fragment, macbinary, extra)
    return _call(_lib().convert_container, os.fspath(path), os.fspath(folder), source, to, fragment, macbinary,
                 bool(force), os.fspath(output_root or folder), os.fspath(extract_media) if extract_media else "")


def identify(data_or_path, name=None):
    """What `mwconv --identify --json` says of a file (a path) or of bytes,
    as a dict with the same keys ("file" is `name`, or "-" for bytes)."""
    if isinstance(data_or_path, (bytes, bytearray, memoryview)):
        text = _call(_lib().identify, bytes(data_or_path), name or "-")
    else:
        text = _call(_lib().identify_file, os.fspath(data_or_path))
    return json.loads(text)


def members(path):
    """The members of the container at `path` (disk image, archive, BinHex,
    MacBinary...), nested containers walked: dicts of path, container, type,
    creator, size and problem.  Empty for a file that is no container."""
    return _call(_lib().members, os.fspath(path))
