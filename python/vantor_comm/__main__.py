"""python3 -m vantor_comm download --device PATH [--data-file FILE] [--app-path DIR]
[--blocking] [--timeout SECONDS] [--idle SECONDS] [--overwrite]: downloads and
prints the records, as vantor-comm download does."""

import argparse
import math
import sys

from . import VantorError, _download


def _seconds(text: str) -> float:
    try:
        seconds = float(text)
    except ValueError:
        seconds = math.nan
    if not math.isfinite(seconds) or seconds <= 0:
        raise argparse.ArgumentTypeError(f"not a number of seconds above 0: {text}")
    return seconds


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m vantor_comm")
    commands = parser.add_subparsers(dest="command", required=True)
    d = commands.add_parser("download", help="download the meter's memory, then print it")
    d.add_argument("--device", required=True, help="the serial device, e.g. /dev/ttyUSB0")
    d.add_argument("--data-file", help="the data file (default: APP_PATH/yyyymmdd.dat)")
    d.add_argument("--app-path", help="the folder of unit2.dat")
    d.add_argument("--blocking", action="store_true", help="one blocking call")
    d.add_argument("--timeout", type=_seconds, metavar="SECONDS",
                   help="the longest wait for the end of the transfer, in seconds")
    d.add_argument("--idle", type=_seconds, metavar="SECONDS",
                   help="once the meter has sent something, end the transfer when it has been "
                        "silent this long")
    d.add_argument("--overwrite", action="store_true",
                   help="replace an earlier download in the data file (by default it is kept "
                        "as FILE.1, FILE.2, ...)")
    args = parser.parse_args(argv)
    if args.data_file is None and args.app_path is None:
        parser.error("give --data-file or --app-path")
    if args.blocking:
        # One call opens the port and downloads: nothing can be said in between.
        print(f"opening {args.device}; once it is open, press SEND on the meter",
              file=sys.stderr)
    try:
        records = _download(
            args.device, args.data_file, blocking=args.blocking, timeout=args.timeout,
            idle=args.idle, app_path=args.app_path, overwrite=args.overwrite,
            on_armed=lambda: print(f"waiting on {args.device}: press SEND on the meter",
                                   file=sys.stderr),
            on_kept=lambda kept: print(f"earlier download kept as: {kept}", file=sys.stderr))
    except VantorError as e:
        print(e, file=sys.stderr)
        return 1
    for r in records:
        print(f"{r.sequence}\t{r.channel}\t{r.value}\t{r.unit}")
    print(f"{len(records)} records", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
