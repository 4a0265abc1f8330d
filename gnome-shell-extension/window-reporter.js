// Publishes the windows GNOME Shell manages on the session bus for Tessarine: which has the
// focus, their titles, application ids and processes, and activates one on request. GNOME
// gives no other program this on Wayland. Nothing leaves the user's session bus.
const BUS_PATH = '/app/kestrune/Tessarine/Shell';
const BUS_XML = `<node>
  <interface name="app.kestrune.Tessarine.ShellWindows">
    <method name="List"><arg type="s" direction="out"/></method>
    <method name="Activate"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
    <property name="Version" type="u" access="read"/>
    <signal name="WindowAdded"><arg type="s"/></signal>
    <signal name="WindowRemoved"><arg type="s"/></signal>
    <signal name="TitleChanged"><arg type="s"/><arg type="s"/></signal>
    <signal name="MinimizedChanged"><arg type="s"/><arg type="b"/></signal>
    <signal name="Activated"><arg type="s"/></signal>
  </interface>
</node>`;

class WindowReporter {
    constructor(shell) {
        // shell: {Gio, GLib, Meta, Shell, Main, global}
        this._shell = shell;
        this._windows = new Map(); // id → {window, signal ids}
        this._displaySignals = [];
        this._exported = null;
    }

    get Version() {
        return 1;
    }

    enable() {
        const {Gio, global} = this._shell;
        this._exported = Gio.DBusExportedObject.wrapJSObject(BUS_XML, this);
        this._exported.export(Gio.DBus.session, BUS_PATH);
        const display = global.display;
        this._displaySignals = [
            display.connect('window-created', (_display, window) => this._follow(window, true)),
            display.connect('notify::focus-window', () => this._emit('Activated', '(s)', [
                this._idOf(display.focus_window)])),
        ];
        for (const actor of global.get_window_actors())
            this._follow(actor.meta_window, false);
    }

    disable() {
        const display = this._shell.global.display;
        for (const id of this._displaySignals)
            display.disconnect(id);
        this._displaySignals = [];
        for (const entry of this._windows.values())
            this._forget(entry);
        this._windows.clear();
        if (this._exported) {
            this._exported.unexport();
            this._exported = null;
        }
    }

    // D-Bus: every followed window, and the one with the focus, as JSON.
    List() {
        const windows = [...this._windows.values()].map(entry => this._describe(entry.window));
        const focus = this._shell.global.display.focus_window;
        return JSON.stringify({windows, focus: this._idOf(focus)});
    }

    // D-Bus: brings a window to the front (its workspace, un-minimised).
    Activate(id) {
        const entry = this._windows.get(id);
        if (!entry)
            return false;
        // A request over the bus carries no event time: without a current one the Shell's
        // focus-stealing prevention may refuse it.
        const {Main, global} = this._shell;
        Main.activateWindow(entry.window, global.display.get_current_time_roundtrip());
        return true;
    }

    _idOf(window) {
        return window ? String(window.get_id()) : '';
    }

    _describe(window) {
        const {Meta, Shell} = this._shell;
        const app = Shell.WindowTracker.get_default().get_window_app(window);
        let appID = app ? app.get_id() || '' : '';
        if (appID.endsWith('.desktop'))
            appID = appID.slice(0, -'.desktop'.length);
        if (appID.startsWith('window:')) // GNOME's stand-in for windows without an app
            appID = '';
        return {
            id: this._idOf(window),
            appID,
            gtkApplicationID: window.get_gtk_application_id() || '',
            sandboxedAppID: window.get_sandboxed_app_id() || '',
            wmClass: window.get_wm_class() || '',
            wmClassInstance: window.get_wm_class_instance() || '',
            title: window.get_title() || '',
            pid: window.get_pid(),
            regular: window.get_window_type() === Meta.WindowType.NORMAL && !window.skip_taskbar,
            minimized: window.minimized,
        };
    }

    _follow(window, announce) {
        const {Meta} = this._shell;
        const type = window.get_window_type();
        if (type !== Meta.WindowType.NORMAL && type !== Meta.WindowType.DIALOG &&
            type !== Meta.WindowType.MODAL_DIALOG)
            return;
        const id = this._idOf(window);
        if (this._windows.has(id))
            return;
        const entry = {window, signals: []};
        entry.signals.push(window.connect('notify::title', () =>
            this._emit('TitleChanged', '(ss)', [id, window.get_title() || ''])));
        entry.signals.push(window.connect('notify::minimized', () =>
            this._emit('MinimizedChanged', '(sb)', [id, window.minimized])));
        entry.signals.push(window.connect('unmanaged', () => {
            this._forget(entry);
            this._windows.delete(id);
            this._emit('WindowRemoved', '(s)', [id]);
        }));
        this._windows.set(id, entry);
        if (!announce)
            return;
        // A new window's application is known once it is shown: announce it then.
        if (window.get_compositor_private()) {
            this._announce(entry);
            return;
        }
        entry.shown = window.connect('shown', () => {
            window.disconnect(entry.shown);
            entry.shown = 0;
            this._announce(entry);
        });
    }

    _announce(entry) {
        this._emit('WindowAdded', '(s)', [JSON.stringify(this._describe(entry.window))]);
        if (this._shell.global.display.focus_window === entry.window)
            this._emit('Activated', '(s)', [this._idOf(entry.window)]);
    }

    _forget(entry) {
        for (const id of entry.signals)
            entry.window.disconnect(id);
        if (entry.shown)
            entry.window.disconnect(entry.shown);
        entry.signals = [];
    }

    _emit(name, signature, values) {
        if (this._exported)
            this._exported.emit_signal(name, new this._shell.GLib.Variant(signature, values));
    }
}
