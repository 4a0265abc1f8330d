// GNOME Shell 40 to 44 (the older extension format).
const {Gio, GLib, Meta, Shell} = imports.gi;
const Main = imports.ui.main;

@REPORTER@

let reporter = null;

function init() {}

function enable() {
    reporter = new WindowReporter({Gio, GLib, Meta, Shell, Main, global});
    reporter.enable();
}

function disable() {
    reporter.disable();
    reporter = null;
}
