// GNOME Shell 45 and later (ES modules).
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

@REPORTER@

export default class TessarineExtension extends Extension {
    enable() {
        this._reporter = new WindowReporter({Gio, GLib, Meta, Shell, Main, global});
        this._reporter.enable();
    }

    disable() {
        this._reporter.disable();
        this._reporter = null;
    }
}
