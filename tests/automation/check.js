// The control through JScript, under cscript:
// check.js APP_DIR DATA_FILE RECORDS PORT
// APP_DIR exists without unit2.dat; PORT has a meter that sends RECORDS records. Prints one
// line per failure, then "N passed, M failed". JScript has no by-reference arguments: what
// Read_Status writes through its argument is read from FrameCount.
var LIMIT = 120000; // milliseconds; a hang guard only
var passed = 0, failed = 0;

function show(v) {
    return String(v) + " (" + typeof v + ")";
}

function equal(what, actual, expected) {
    if (actual === expected) {
        ++passed;
    } else {
        ++failed;
        WScript.Echo("FAILED: " + what + ": " + show(actual) + ", expected " + show(expected));
    }
}

// Runs f, which must fail with run-time error n; returns the error.
function raises(what, n, f) {
    try {
        f();
    } catch (e) {
        equal(what + ": error number", e.number & 0xFFFF, n);
        equal(what + ": the control's facility", e.number, (0x800A0000 + n) | 0);
        return e;
    }
    equal(what + ": no error", "none", "error " + n);
    return {description: ""};
}

function run() {
    var args = WScript.Arguments;
    var appDir = args(0), dataFile = args(1), records = parseInt(args(2), 10);
    var port = parseInt(args(3), 10);
    var c = new ActiveXObject("VantorComm.Vantor_Comm");

    equal("Read_Status on a fresh control", c.Read_Status(7), 0);
    equal("FrameCount on a fresh control", c.FrameCount, 0);
    // No SAFEARRAY can be made here: null stands for the missing array.
    raises("GetParameter without an array", 9, function() { c.GetParameter(null); });

    c.AppPath = appDir;
    var e = raises("ReadUnitFile without unit2.dat", 53, function() { c.ReadUnitFile(); });
    var named = e.description.toLowerCase().indexOf((appDir + "\\unit2.dat").toLowerCase());
    equal("the description names the unit file: " + e.description, named >= 0, true);

    c.MessageBoxes = false;
    c.Port = port;
    c.df = dataFile;
    equal("Start", c.Start(), 0);
    var end = new Date().getTime() + LIMIT, status;
    while ((status = c.Read_Status(0)) === 0 && new Date().getTime() < end) {
    }
    equal("Read_Status at the end of a download", status, 1);
    equal("frames at the end of a download", c.FrameCount > 0, true);
    equal("datano after a download", c.datano, records);
    equal("fgTransferOK after a download", c.fgTransferOK, true);
    equal("LastErrorNumber after a download", c.LastErrorNumber, 0);
}

try {
    run();
} catch (e) {
    equal("an unexpected error: " + e.description, e.number, 0);
}
WScript.Echo(passed + " passed, " + failed + " failed");
