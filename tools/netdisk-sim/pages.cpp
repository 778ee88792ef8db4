#include "pages.h"

#include "text_util.h"

namespace netdisk_sim {

namespace {

std::string fill(std::string text, std::string_view key, std::string_view value) {
    const std::string mark = "{{" + std::string(key) + "}}";
    std::size_t at = 0;
    while ((at = text.find(mark, at)) != std::string::npos) {
        text.replace(at, mark.size(), value);
        at += value.size();
    }
    return text;
}

constexpr const char* kStyle = R"CSS(
body { font-family: "Noto Sans CJK SC", "WenQuanYi Micro Hei", sans-serif; margin: 0; color: #222; }
header { background: #06a7ff; color: #fff; padding: 10px 16px; display: flex; gap: 16px; align-items: center; }
header a { color: #fff; }
header .brand { font-weight: bold; flex: 1; }
main { padding: 12px 16px; }
#sim-breadcrumb a { color: #06a7ff; text-decoration: none; }
#sim-status { color: #666; margin: 8px 0; font-size: 13px; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: 6px 8px; border-bottom: 1px solid #eee; font-size: 14px; }
tr.sim-selected { background: #e8f6ff; }
a.sim-folder { color: #222; text-decoration: none; font-weight: bold; }
a.sim-folder:hover { color: #06a7ff; }
.login { max-width: 360px; margin: 80px auto; padding: 24px; border: 1px solid #ddd; border-radius: 8px; }
.login input { display: block; width: 100%; margin: 8px 0 16px; padding: 6px; box-sizing: border-box; }
.login button { width: 100%; padding: 8px; background: #06a7ff; color: #fff; border: 0; border-radius: 4px; }
)CSS";

constexpr const char* kLoginPage = R"HTML(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<link rel="icon" href="data:,">
<title>百度网盘 - 登录（模拟服务）</title>
<style>{{STYLE}}</style>
</head>
<body>
<div class="login">
<h2>登录百度网盘</h2>
<p>这是模拟的网盘服务，任何用户名和密码都会登录到同一个测试账号。</p>
<form id="sim-login-form" method="post" action="/login">
<label for="sim-user">帐号</label>
<input id="sim-user" name="user" value="{{USER}}">
<label for="sim-password">密码</label>
<input id="sim-password" name="password" type="password" value="">
<button id="sim-login" type="submit">登录</button>
</form>
<p><a id="sim-quick-login" href="/login?user={{USER_URL}}">一键登录</a></p>
</div>
</body>
</html>
)HTML";

constexpr const char* kHomePage = R"HTML(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<link rel="icon" href="data:,">
<title>百度网盘 - 全部文件（模拟服务）</title>
<style>{{STYLE}}</style>
<script>
var locals = (function () {
  var values = {};
  return {
    mset: function (o) {
      for (var k in o) {
        if (Object.prototype.hasOwnProperty.call(o, k)) { values[k] = o[k]; }
      }
    },
    // The new client's pages fill the values from the token requests.
    set: function (o) { this.mset(o); },
    get: function (k) { return values[k]; }
  };
})();
</script>
<script>{{TOKENS}}</script>
</head>
<body data-ready="0">
<header>
<span class="brand">百度网盘（模拟服务）</span>
<span id="sim-username">{{USER}}</span>
<a id="sim-popup" href="/popup" onclick="window.open('/popup', 'sim_help', 'width=480,height=360'); return false;">帮助中心</a>
<a id="sim-logout" href="/logout">退出</a>
</header>
<main>
<nav id="sim-breadcrumb"></nav>
<div id="sim-status">正在加载…</div>
<table id="sim-list">
<thead><tr><th><input type="checkbox" id="sim-check-all" title="全选"></th><th>文件名</th><th>大小</th><th>修改日期</th></tr></thead>
<tbody></tbody>
</table>
</main>
<script>
(function () {
  'use strict';

  // fs_ids above 2^53 do not fit a script number. They are kept as ExactId
  // objects whose digits JSON.stringify writes back as a bare number, so the
  // selection text carries the same ids as the listing.
  var MARK = '\u2063';
  function ExactId(digits) { this.digits = digits; }
  ExactId.prototype.toJSON = function () { return MARK + 'exact:' + this.digits + MARK; };
  ExactId.prototype.toString = function () { return this.digits; };
  ExactId.prototype.valueOf = function () { return Number(this.digits); };
  var nativeStringify = JSON.stringify;
  var exactPattern = new RegExp('"' + MARK + 'exact:(\\d+)' + MARK + '"', 'g');
  JSON.stringify = function (value, replacer, space) {
    var text = nativeStringify.call(JSON, value, replacer, space);
    return typeof text === 'string' ? text.replace(exactPattern, '$1') : text;
  };

  var PAGE_LIMIT = 1000;
  var state = { path: '/', items: [], checked: [], ready: false, message: '', generation: 0 };

  function hrefFor(path) { return '#/all?vmode=list&path=' + encodeURIComponent(path); }

  function pathFromHash() {
    var hash = location.hash || '';
    var q = hash.indexOf('?');
    if (q < 0) { return '/'; }
    var params = hash.substring(q + 1).split('&');
    for (var i = 0; i < params.length; i++) {
      var eq = params[i].indexOf('=');
      if (eq > 0 && params[i].substring(0, eq) === 'path') {
        try { return decodeURIComponent(params[i].substring(eq + 1)) || '/'; } catch (e) { return '/'; }
      }
    }
    return '/';
  }

  function parseListing(text) {
    var data = JSON.parse(text.replace(/"fs_id":(\d+)/g, '"fs_id":"$1"'));
    var list = Array.isArray(data.list) ? data.list : [];
    list.forEach(function (item) {
      var digits = String(item.fs_id);
      var n = Number(digits);
      item.fs_id = String(n) === digits ? n : new ExactId(digits);
    });
    data.list = list;
    return data;
  }

  function sizeText(bytes) {
    if (!bytes) { return '-'; }
    var units = ['B', 'KB', 'MB', 'GB', 'TB'];
    var v = bytes, u = 0;
    while (v >= 1024 && u < units.length - 1) { v /= 1024; u++; }
    return (u === 0 ? String(v) : v.toFixed(1)) + units[u];
  }

  function timeText(seconds) {
    var d = new Date((seconds + 8 * 3600) * 1000);
    function two(n) { return (n < 10 ? '0' : '') + n; }
    return d.getUTCFullYear() + '-' + two(d.getUTCMonth() + 1) + '-' + two(d.getUTCDate()) +
           ' ' + two(d.getUTCHours()) + ':' + two(d.getUTCMinutes());
  }

  function selectedItems() {
    var out = [];
    for (var i = 0; i < state.items.length; i++) {
      if (state.checked[i]) { out.push(state.items[i]); }
    }
    return out;
  }

  function setChecked(index, on) {
    state.checked[index] = !!on;
    var row = document.querySelector('tr.sim-row[data-index="' + index + '"]');
    if (row) {
      row.classList.toggle('sim-selected', !!on);
      row.querySelector('input.sim-check').checked = !!on;
    }
  }

  function renderStatus() {
    var count = selectedItems().length;
    var text = state.message || (state.ready ? '共 ' + state.items.length + ' 项' : '正在加载…');
    if (count > 0) { text += '，已选中 ' + count + ' 项'; }
    document.getElementById('sim-status').textContent = text;
    var all = document.getElementById('sim-check-all');
    all.checked = state.items.length > 0 && count === state.items.length;
    document.body.setAttribute('data-ready', state.ready ? '1' : '0');
    document.body.setAttribute('data-path', state.path);
    document.body.setAttribute('data-selected', String(count));
  }

  function renderBreadcrumb() {
    var nav = document.getElementById('sim-breadcrumb');
    nav.textContent = '';
    var root = document.createElement('a');
    root.href = hrefFor('/');
    root.textContent = '全部文件';
    nav.appendChild(root);
    var parts = state.path.split('/').filter(function (p) { return p.length > 0; });
    var prefix = '';
    parts.forEach(function (part) {
      prefix += '/' + part;
      nav.appendChild(document.createTextNode(' › '));
      var a = document.createElement('a');
      a.href = hrefFor(prefix);
      a.textContent = part;
      nav.appendChild(a);
    });
  }

  function renderRows() {
    var body = document.querySelector('#sim-list tbody');
    body.textContent = '';
    state.items.forEach(function (item, index) {
      var isDir = String(item.isdir) === '1';
      var id = String(item.fs_id);
      var name = String(item.server_filename);
      var tr = document.createElement('tr');
      tr.className = 'sim-row';
      tr.setAttribute('data-index', String(index));
      tr.setAttribute('data-fs-id', id);
      tr.setAttribute('data-name', name);
      tr.setAttribute('data-path', String(item.path));
      tr.setAttribute('data-isdir', isDir ? '1' : '0');
      var c0 = document.createElement('td');
      var box = document.createElement('input');
      box.type = 'checkbox';
      box.className = 'sim-check';
      box.id = 'sim-check-' + id;
      box.setAttribute('data-fs-id', id);
      box.setAttribute('data-name', name);
      box.addEventListener('change', function () { setChecked(index, box.checked); renderStatus(); });
      c0.appendChild(box);
      var c1 = document.createElement('td');
      if (isDir) {
        var a = document.createElement('a');
        a.className = 'sim-folder';
        a.href = hrefFor(String(item.path));
        a.textContent = '📁 ' + name;
        c1.appendChild(a);
      } else {
        var span = document.createElement('span');
        span.className = 'sim-file';
        span.textContent = '📄 ' + name;
        c1.appendChild(span);
      }
      var c2 = document.createElement('td');
      c2.textContent = isDir ? '-' : sizeText(Number(item.size));
      var c3 = document.createElement('td');
      c3.textContent = timeText(Number(item.server_mtime));
      tr.appendChild(c0); tr.appendChild(c1); tr.appendChild(c2); tr.appendChild(c3);
      tr.addEventListener('click', function (e) {
        if (e.target === box || (e.target.tagName === 'A')) { return; }
        setChecked(index, !state.checked[index]);
        renderStatus();
      });
      body.appendChild(tr);
    });
  }

  function render() { renderBreadcrumb(); renderRows(); renderStatus(); }

  function load() {
    var generation = ++state.generation;
    state.path = pathFromHash();
    state.items = [];
    state.checked = [];
    state.ready = false;
    state.message = '';
    render();
    var url = '/api/list?order=time&desc=1&showempty=0&web=1&page=1&num=' + PAGE_LIMIT +
              '&dir=' + encodeURIComponent(state.path) + '&channel=chunlei&web=1&app_id=250528' +
              '&bdstoken=' + encodeURIComponent(locals.get('bdstoken') || '') + '&clienttype=0';
    var xhr = new XMLHttpRequest();
    xhr.open('GET', url);
    xhr.setRequestHeader('X-Requested-With', 'XMLHttpRequest');
    xhr.onload = function () {
      if (generation !== state.generation) { return; }
      try {
        var data = parseListing(xhr.responseText);
        if (data.errno === -6) {
          state.message = '登录已失效，请重新登录';
        } else if (data.errno !== 0) {
          state.message = '加载失败（errno ' + data.errno + '）';
        }
        state.items = data.list;
        if (state.items.length >= PAGE_LIMIT) {
          state.message = '仅显示前 ' + PAGE_LIMIT + ' 项';
        }
      } catch (e) {
        state.message = '加载失败：服务返回的内容无法解析';
      }
      state.ready = true;
      render();
    };
    xhr.onerror = function () {
      if (generation !== state.generation) { return; }
      state.message = '加载失败：网络错误';
      state.ready = true;
      render();
    };
    xhr.send();
  }

  document.getElementById('sim-check-all').addEventListener('change', function (e) {
    for (var i = 0; i < state.items.length; i++) { setChecked(i, e.target.checked); }
    renderStatus();
  });

{{MODULES}}
  // Helpers for tests that drive the page from script.
  function namesOf(items) { return items.map(function (i) { return String(i.server_filename); }); }
  window.__sim = {
    isReady: function () { return state.ready; },
    path: function () { return state.path; },
    names: function () { return namesOf(state.items); },
    selectedNames: function () { return namesOf(selectedItems()); },
    select: function (names) {
      var found = 0;
      (names || []).forEach(function (name) {
        for (var i = 0; i < state.items.length; i++) {
          if (String(state.items[i].server_filename) === name) { setChecked(i, true); found++; break; }
        }
      });
      renderStatus();
      return found;
    },
    selectAll: function () {
      for (var i = 0; i < state.items.length; i++) { setChecked(i, true); }
      renderStatus();
      return state.items.length;
    },
    clear: function () {
      for (var i = 0; i < state.items.length; i++) { setChecked(i, false); }
      renderStatus();
    },
    open: function (path) { location.hash = hrefFor(path).substring(1); },
    reload: load
  };

  window.addEventListener('hashchange', load);
  load();
})();
</script>
</body>
</html>
)HTML";

// The module loader of the old web client, as far as outside scripts use it.
constexpr const char* kModuleLoader = R"JS(
  function SystemContext() {
    this.list = {
      getSelected: function () { return selectedItems(); },
      getCurrentList: function () { return state.items.slice(); }
    };
  }
  var modules = { 'system-core:context/SystemContext.js': SystemContext };
  window.require = function (name) {
    if (Object.prototype.hasOwnProperty.call(modules, name)) { return modules[name]; }
    throw new Error('module not found: ' + name);
  };
)JS";

// The new client asks for its tokens instead of carrying them; the field
// list is written encoded, so that the page holds no quoted token name.
constexpr const char* kMainTokenScript = R"JS((function () {
  function ask(url, pick) {
    try {
      var x = new XMLHttpRequest();
      x.open('GET', url, false);
      x.send();
      var r = JSON.parse(x.responseText);
      if (r.errno === 0 && pick(r)) { locals.set(pick(r)); return true; }
    } catch (e) {}
    return false;
  }
  if (!ask('/api/gettemplatevariable?clienttype=0&app_id=250528&web=1&fields=' +
           '%5B%22bdstoken%22%2C%22token%22%2C%22uk%22%2C%22isdocuser%22%2C%22servertime%22%5D',
           function (r) { return r.result; })) {
    ask('/api/loginStatus?clienttype=0&app_id=250528&web=1&channel=chunlei&version=0',
        function (r) { return r.login_info; });
  }
})();)JS";

constexpr const char* kPopupPage = R"HTML(<!DOCTYPE html>
<html lang="zh-CN">
<head><meta charset="utf-8"><link rel="icon" href="data:,"><title>帮助中心（模拟服务）</title>
<style>{{STYLE}}</style></head>
<body><main><h3>帮助中心</h3><p>这是模拟服务打开的弹出窗口。</p>
<button id="sim-close" onclick="window.close()">关闭</button></main></body>
</html>
)HTML";

constexpr const char* kSharePage = R"HTML(<!DOCTYPE html>
<html lang="zh-CN">
<head><meta charset="utf-8"><link rel="icon" href="data:,"><title>{{TITLE}}</title>
<style>{{STYLE}}</style></head>
<body><header><span class="brand">百度网盘（模拟服务）</span></header><main>{{BODY}}</main></body>
</html>
)HTML";

} // namespace

std::string loginPage(std::string_view user) {
    std::string page = fill(kLoginPage, "STYLE", kStyle);
    page = fill(page, "USER_URL", percentEncode(user));
    return fill(page, "USER", htmlEscape(user));
}

std::string homePage(std::string_view user, std::string_view tokenScript, bool oldModules) {
    std::string page = fill(kHomePage, "STYLE", kStyle);
    page = fill(page, "USER", htmlEscape(user));
    page = fill(page, "MODULES", oldModules ? kModuleLoader : "");
    return fill(page, "TOKENS", tokenScript);
}

std::string mainPageTokenScript() {
    return kMainTokenScript;
}

std::string popupPage() {
    return fill(kPopupPage, "STYLE", kStyle);
}

std::string sharePage(std::string_view title, std::string_view bodyHtml) {
    std::string page = fill(kSharePage, "STYLE", kStyle);
    page = fill(page, "TITLE", htmlEscape(title));
    return fill(page, "BODY", bodyHtml);
}

std::string statusPage(int status) {
    const std::string code = std::to_string(status);
    return "<html>\r\n<head><title>" + code + " Error</title></head>\r\n<body>\r\n<center><h1>" +
           code +
           " Error</h1></center>\r\n<hr><center>netdisk-sim</center>\r\n</body>\r\n</html>\r\n";
}

std::string busyPage() {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>百度网盘-系统繁忙</title>"
           "</head><body><p>系统繁忙，请稍后再试。</p></body></html>";
}

} // namespace netdisk_sim
