'use strict';

// Stands in for an Android emulator behind the fake driver: answers the `mobile:` commands
// the App keywords send and the fake driver lacks, and keeps what every session received so
// that a test can read it after the session has ended (GET /lumox/sessions).

const { BasePlugin } = require('@appium/base-plugin');
const { errors } = require('appium/driver');

const DEFAULT_PACKAGE = 'io.lumox.demo';
const DEFAULT_ACTIVITY = '.MainActivity';

// Android's app states, as `mobile: queryAppState` answers them.
const NOT_INSTALLED = 0;
const NOT_RUNNING = 1;
const RUNNING_IN_FOREGROUND = 4;

// Added to the screen once the device has been shaken often enough.
const SHAKEN_XML =
  '<MockText id="shaken" left="40" top="1600" width="1000" height="80">shaken</MockText>';

// One entry per session this server has had, ended ones too: the plug-in instances live and
// die with their sessions, the server (and so this module) outlives them.
const sessions = new Map();

function w3cRequest(capsArgs) {
  // createSession receives the same `capabilities` object three times.
  const caps = capsArgs.find((c) => c && typeof c === 'object' && ('alwaysMatch' in c || 'firstMatch' in c));
  if (!caps) {
    return {};
  }
  return { ...(caps.alwaysMatch ?? {}), ...((caps.firstMatch ?? [])[0] ?? {}) };
}

function capability(caps, name) {
  return caps[`appium:${name}`] ?? caps[name];
}

// Capability lumoxFiles, {remotePath: base64}: files the device has before the session starts.
function preloadedFiles(caps) {
  // No prototype: a remote path such as `__proto__` is a file like any other.
  const files = Object.create(null);
  const given = capability(caps, 'lumoxFiles');
  if (given && typeof given === 'object') {
    for (const [remotePath, payload] of Object.entries(given)) {
      if (typeof payload === 'string') {
        files[remotePath] = payload;
      }
    }
  }
  return files;
}

function newEntry(sessionId, caps) {
  const limit = Number.parseInt(capability(caps, 'lumoxShakeChangesAfter') ?? 0, 10);
  const pkg = capability(caps, 'appPackage') ?? DEFAULT_PACKAGE;
  return {
    record: {
      sessionId,
      capabilities: caps,
      actions: [],
      emulator: [],
      package: pkg,
      activity: capability(caps, 'appActivity') ?? DEFAULT_ACTIVITY,
      // The app under test is running once the session has started.
      state: Object.assign(Object.create(null), { [pkg]: RUNNING_IN_FOREGROUND }),
      keyboardShown: capability(caps, 'lumoxKeyboardShown') === true,
      keys: [],
      installed: [],
      backgrounded: [],
      pushed: [],
      back: 0,
      orientations: [],
      ended: false,
    },
    files: preloadedFiles(caps),
    shakes: 0,
    shakeLimit: Number.isFinite(limit) && limit > 0 ? limit : 0,
  };
}

function entryFor(driver) {
  let entry = sessions.get(driver.sessionId);
  if (!entry) {
    // A session the plug-in did not see start: all it has are the caps as processed.
    entry = newEntry(driver.sessionId, { ...(driver.caps ?? {}) });
    sessions.set(driver.sessionId, entry);
  }
  return entry;
}

function copy(value) {
  return JSON.parse(JSON.stringify(value ?? null));
}

// `mobile:startActivity` is as good as `mobile: startActivity` to Appium's Android drivers.
function scriptName(script) {
  const match = /^mobile:\s*(\S+)\s*$/.exec(typeof script === 'string' ? script : '');
  return match ? `mobile: ${match[1]}` : null;
}

function requireString(params, name) {
  const value = params[name];
  if (typeof value !== 'string' || !value) {
    throw new errors.InvalidArgumentError(`'${name}' must be a non-empty string`);
  }
  return value;
}

function requireInteger(params, name, { optional = false } = {}) {
  const value = params[name];
  if (optional && value === undefined) {
    return undefined;
  }
  if (!Number.isInteger(value)) {
    throw new errors.InvalidArgumentError(`'${name}' must be an integer, not ${JSON.stringify(value)}`);
  }
  return value;
}

function requireNumber(params, name) {
  const value = params[name];
  if (typeof value !== 'number' || !Number.isFinite(value)) {
    throw new errors.InvalidArgumentError(`'${name}' must be a number, not ${JSON.stringify(value)}`);
  }
  return value;
}

// Buffer.from(..., 'base64') drops what is not base64 without a word: refuse it instead, as
// a payload the device could not decode.
function requireBase64(params, name) {
  const value = params[name];
  // Line breaks are fine, as in base64 written 76 characters a line.
  const bare = typeof value === 'string' ? value.replace(/\s+/g, '') : null;
  if (bare === null || !/^[A-Za-z0-9+/]*={0,2}$/.test(bare) || bare.length % 4 === 1) {
    throw new errors.InvalidArgumentError(`'${name}' must be a base64 string`);
  }
  return value;
}

function startActivity(entry, params) {
  let pkg;
  let activity;
  // UiAutomator2 takes `intent` ("<package>/<activity>"); `component` has the same form.
  const target = params.intent ?? params.component;
  if (target !== undefined) {
    const [head, ...rest] = String(target).split('/');
    if (!head || !rest.length || !rest.join('/')) {
      throw new errors.InvalidArgumentError(`'${target}' is not of the form <package>/<activity>`);
    }
    [pkg, activity] = [head, rest.join('/')];
  } else {
    pkg = params.package ?? params.appPackage;
    activity = params.activity ?? params.appActivity;
    if (!pkg || !activity) {
      throw new errors.InvalidArgumentError(
        "Give 'intent' as <package>/<activity>, or both 'package' and 'activity'");
    }
  }
  entry.record.package = String(pkg);
  entry.record.activity = String(activity);
  return null;
}

function isShake(command) {
  const match = /^\s*sensor\s+set\s+acceleration\s+(\S+)\s*$/.exec(command);
  if (!match) {
    return false;
  }
  const values = match[1].split(':').map(Number);
  return values.length === 3 && values.every(Number.isFinite) && values.some((v) => v !== 0);
}

// The fake driver serves finds from its DOM and the page source from its raw XML: change both,
// so that what a test looks for after shaking is there either way.
function changeScreen(driver) {
  const model = driver.appModel;
  if (!model?.dom) {
    return;
  }
  const app = model.dom.getElementsByTagName('app')[0];
  if (app) {
    const text = model.dom.createElement('MockText');
    for (const [name, value] of Object.entries(
      { id: 'shaken', left: '40', top: '1600', width: '1000', height: '80' })) {
      text.setAttribute(name, value);
    }
    text.appendChild(model.dom.createTextNode('shaken'));
    app.appendChild(text);
  }
  const end = model.rawXml.lastIndexOf('</app>');
  model.rawXml = end < 0 ? model.rawXml + SHAKEN_XML
    : model.rawXml.slice(0, end) + SHAKEN_XML + model.rawXml.slice(end);
}

// Capability lumoxShowAfter, {elementId: milliseconds}: hidden elements of the app that
// show once the session is that old, as a screen that is still loading does.
function showLater(driver, caps) {
  const delays = capability(caps, 'lumoxShowAfter');
  if (!delays || typeof delays !== 'object') {
    return;
  }
  for (const [id, ms] of Object.entries(delays)) {
    setTimeout(() => {
      const nodes = driver?.appModel?.dom?.getElementsByTagName('*') ?? [];
      for (let i = 0; i < nodes.length; i++) {
        if (nodes[i].getAttribute('id') === id) {
          nodes[i].setAttribute('visible', 'true');
        }
      }
      // Elements already found keep a copy of their node's attributes.
      for (const element of Object.values(driver?.elMap ?? {})) {
        if (element.nodeAttrs?.id === id) {
          element.nodeAttrs.visible = 'true';
        }
      }
    }, Number(ms)).unref();
  }
}

function execEmuConsoleCommand(entry, params, driver) {
  const command = requireString(params, 'command');
  if (isShake(command)) {
    entry.shakes += 1;
    if (entry.shakeLimit && entry.shakes === entry.shakeLimit) {
      changeScreen(driver);
    }
  }
  return '';
}

function hideKeyboard(entry) {
  entry.record.keyboardShown = false;
  return true;
}

function pressKey(entry, params) {
  const keycode = requireInteger(params, 'keycode');
  const metastate = requireInteger(params, 'metastate', { optional: true });
  requireInteger(params, 'flags', { optional: true });
  // null, not left out: a test tells "no metastate sent" from metastate 0.
  entry.record.keys.push({ keycode, metastate: metastate ?? null });
  return null;
}

function installApp(entry, params) {
  entry.record.installed.push(requireString(params, 'appPath'));
  return null;
}

function activateApp(entry, params) {
  const appId = requireString(params, 'appId');
  entry.record.package = appId;
  entry.record.state[appId] = RUNNING_IN_FOREGROUND;
  return null;
}

function appState(entry, appId) {
  return entry.record.state[appId] ?? NOT_INSTALLED;
}

function terminateApp(entry, params) {
  const appId = requireString(params, 'appId');
  const wasRunning = appState(entry, appId) > NOT_RUNNING;
  entry.record.state[appId] = NOT_RUNNING;
  return wasRunning;
}

function queryAppState(entry, params) {
  return appState(entry, requireString(params, 'appId'));
}

function backgroundApp(entry, params) {
  entry.record.backgrounded.push(requireNumber(params, 'seconds'));
  return null;
}

function pushFile(entry, params) {
  const remotePath = requireString(params, 'remotePath');
  const payload = requireBase64(params, 'payload');
  entry.files[remotePath] = payload;
  entry.record.pushed.push({ remotePath, bytes: Buffer.from(payload, 'base64').length });
  return null;
}

function pullFile(entry, params) {
  const remotePath = requireString(params, 'remotePath');
  if (!(remotePath in entry.files)) {
    throw new errors.UnknownError(`no file at ${remotePath}`);
  }
  return entry.files[remotePath];
}

const EMULATOR = {
  'mobile: startActivity': startActivity,
  'mobile: getCurrentPackage': (entry) => entry.record.package,
  'mobile: getCurrentActivity': (entry) => entry.record.activity,
  'mobile: execEmuConsoleCommand': execEmuConsoleCommand,
  'mobile: hideKeyboard': hideKeyboard,
  'mobile: isKeyboardShown': (entry) => entry.record.keyboardShown,
  'mobile: pressKey': pressKey,
  'mobile: installApp': installApp,
  'mobile: activateApp': activateApp,
  'mobile: terminateApp': terminateApp,
  'mobile: queryAppState': queryAppState,
  'mobile: backgroundApp': backgroundApp,
  'mobile: pushFile': pushFile,
  'mobile: pullFile': pullFile,
};

function keepActionLog(entry, driver) {
  // What the fake driver logged is what the server received: prefer it to our own copy.
  const log = driver?.appModel?.actionLog;
  if (Array.isArray(log)) {
    entry.record.actions = copy(log);
  }
}

class LumoxEmulatorPlugin extends BasePlugin {
  // A plain Express route: commands of a plug-in's newMethodMap need a session.
  static async updateServer(expressApp) {
    expressApp.get('/lumox/sessions', (req, res) => {
      res.set('Content-Type', 'application/json; charset=utf-8');
      res.send(JSON.stringify([...sessions.values()].map((entry) => entry.record)));
    });
  }

  async createSession(next, driver, ...capsArgs) {
    const result = await next();
    const sessionId = result?.error ? null : result?.value?.[0];
    if (sessionId) {
      const caps = copy(w3cRequest(capsArgs));
      sessions.set(sessionId, newEntry(sessionId, caps));
      showLater(driver.sessions?.[sessionId] ?? driver, caps);
    }
    return result;
  }

  async execute(next, driver, script, args) {
    const name = scriptName(script);
    const answer = name && EMULATOR[name];
    if (!answer) {
      return await next();
    }
    const entry = entryFor(driver);
    const params = (Array.isArray(args) ? args[0] : args) ?? {};
    entry.record.emulator.push({ script, args: copy(params) });
    return answer(entry, typeof params === 'object' ? params : {}, driver);
  }

  async performActions(next, driver, actions) {
    entryFor(driver).record.actions.push(copy(actions));
    return await next();
  }

  // The fake driver has no `back`: answer it here, without next().
  async back(next, driver) {
    entryFor(driver).record.back += 1;
    return null;
  }

  // What was asked, refused ones too; the fake driver keeps and checks the orientation.
  async setOrientation(next, driver, orientation) {
    entryFor(driver).record.orientations.push(orientation);
    return await next();
  }

  async deleteSession(next, driver, sessionId) {
    // deleteSession runs on the umbrella driver; the session's own driver goes with it.
    const inner = driver.sessions?.[sessionId];
    const entry = inner ? entryFor(inner) : sessions.get(sessionId);
    if (entry) {
      keepActionLog(entry, inner);
    }
    const result = await next();
    if (entry) {
      entry.record.ended = true;
    }
    return result;
  }

  async onUnexpectedShutdown(driver) {
    const entry = sessions.get(driver.sessionId);
    if (entry) {
      keepActionLog(entry, driver);
      entry.record.ended = true;
    }
  }
}

module.exports = { LumoxEmulatorPlugin };
