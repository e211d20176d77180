// Runs in every hosted chat page, in the private script world "aurelo": the page shares the DOM
// with us but cannot see these functions or post to the bridge. The host fills the eleven
// configuration placeholders before it injects the text, so this file is not valid JavaScript
// until then. Everything lives in one function scope; only the callbacks the host calls are put
// on window (of our world).
(function () {
    'use strict';

    if (window.__aureloTranslatorInstalled) {
        return;
    }
    window.__aureloTranslatorInstalled = true;

    // ---------------------------------------------------------------- configuration and helpers

    const sendTranslationEnabled = __SEND_TRANSLATE__;
    const receiveTranslationEnabled = __RECEIVE_TRANSLATE__;
    const translationFontSize = __TRANSLATION_FONT_SIZE__;
    const translationFontColor = String(__TRANSLATION_FONT_COLOR__);
    const inputLanguage = String(__INPUT_LANGUAGE__);
    // The account's language, or (when it follows the customer) the open conversation's as the
    // host last said; see aureloSetOutgoingLanguage.
    let outgoingLanguage = String(__OUTGOING_LANGUAGE__);
    const followsConversation = Boolean(__FOLLOW_CONVERSATION__);
    const incomingLanguage = String(__INCOMING_LANGUAGE__);
    const ownMessageLanguage = String(__OWN_MESSAGE_LANGUAGE__);
    // Only some platforms translate before sending; on the others the user's text goes through
    // the window's translation box, and asking to turn send translation on would mislead.
    const sendTranslationAvailable = Boolean(__SEND_AVAILABLE__);
    const SEND_UNAVAILABLE_NOTE = '此平台不支持发送时自动翻译，发出的文字请用下方的智能翻译文框翻译后填入';
    let translationActive = Boolean(__TRANSLATION_ACTIVE__) && receiveTranslationEnabled;

    const PLAIN_TEXT_SELECTOR = '[data-pre-plain-text]';
    const PANEL_CLASS = 'aurelo-translation-panel';
    const COMPOSER_SELECTOR = '[contenteditable="true"]';
    // HTML reads contenteditable="" (and any case of "true") as "true", and "plaintext-only" is
    // editable too; editors such as Trix mark their element that way.
    const EDITABLE_SELECTOR = COMPOSER_SELECTOR +
        ', [contenteditable="true" i], [contenteditable=""], [contenteditable="plaintext-only" i]';
    const COMPOSER_ID_ATTRIBUTE = 'data-aurelo-composer-id';
    // Elements this script adds to the page. Their text is ours, never the chat's: it is not read
    // as message text and not translated with the page.
    const OWN_UI_SELECTOR =
        '.aurelo-translation-panel, .aurelo-voice-button, .aurelo-voice-result, ' +
        '.aurelo-context-menu, .aurelo-context-result, .aurelo-composer-guard';

    const VIEW_MARGIN = 120;
    const SCAN_LIMIT = 10;
    const FLUSH_LIMIT = 8;
    const MAXIMUM_MESSAGE_LENGTH = 5000;
    const FLUSH_DELAY = 45;
    const EXPAND_RETRY_DELAY = 180;
    const ACTIVATION_SCAN_DELAY = 20;
    const UNREAD_INTERVAL = 2000;
    const MAXIMUM_UNREAD = 9999;
    const ALARM_OUTLINE = '2px solid #ef4444';
    const ALARM_DURATION = 2400;
    const WARM_DELAY = 650;
    const BYPASS_DURATION = 1800;
    const SEND_CLICK_DELAY = 20;
    const SELECTION_WAIT = 50;
    const SELECTION_QUIET = 120;
    const SETTLE_WAIT = 50;
    const SETTLE_LIMIT = 400;
    const COMMIT_SETTLE_WAIT = 120;
    const REFUSED_CHINESE_NOTE = '译文仍含中文，未填入';
    const NOT_TAKEN_NOTE = '编辑器未接受填入的文字，未发送';
    const INSERTION_NOT_TAKEN_NOTE = '编辑器未接受填入的文字';
    const GUARD_INTERVAL = 1500;
    const VOICE_LOAD_WAIT = 500;
    const MAXIMUM_VOICE_BYTES = 18 * 1024 * 1024;
    const PAGE_NODE_LIMIT = 80;
    const PAGE_TEXT_MAXIMUM = 1500;
    const PAGE_WALK_LIMIT = 20000;
    const PAGE_IN_FLIGHT = 10;
    const RECOGNITION_GRACE = 4000;
    const CONVERSATION_INTERVAL = 250;
    const MAXIMUM_CONVERSATION_LENGTH = 512;

    const EXPAND_LABELS = new Set([
        'read more', 'see more', 'show more', '查看更多', '显示更多', '展开',
        'leer más', 'ver más', 'voir plus', 'afficher plus', 'mehr anzeigen', 'weiterlesen',
    ]);

    function hasChinese(text) {
        return /[\u3400-\u9fff]/.test(text);
    }

    function looksLikeTargetLanguage(text) {
        if (outgoingLanguage === 'en') {
            return /[A-Za-z]/.test(text) && !hasChinese(text);
        }
        if (outgoingLanguage === 'zh-CN') {
            return hasChinese(text);
        }
        return inputLanguage === outgoingLanguage;
    }

    function shouldTranslateComposer(text) {
        return text.length > 0 && !looksLikeTargetLanguage(text);
    }

    function makeID() {
        return 'at-' + Date.now().toString(36) + '-' + Math.random().toString(36).slice(2);
    }

    function post(message) {
        try {
            window.webkit.messageHandlers.translationBridge.postMessage(message);
        } catch (error) {
            // Without the bridge (a host that has gone away) there is nobody to tell.
        }
    }

    function isElement(node) {
        return node !== null && typeof node === 'object' && node.nodeType === Node.ELEMENT_NODE;
    }

    function elementOf(node) {
        if (isElement(node)) {
            return node;
        }
        return node && node.parentElement ? node.parentElement : null;
    }

    // Finds the element whose attribute holds exactly `value`. The value comes back from the host
    // and is escaped, so an id of any shape selects nothing rather than throwing.
    function findByAttribute(attribute, value) {
        return document.querySelector('[' + attribute + '="' + CSS.escape(String(value)) + '"]');
    }

    function shownText(element) {
        return ((element && (element.innerText || element.textContent)) || '').trim();
    }

    // The text of a page element without anything this script has added inside it (a voice
    // button appended to a message must not become the message's text), nor what `aside` selects
    // (a message's time or reactions, which its platform puts inside the text).
    function pageText(element, aside) {
        const skipped = aside ? OWN_UI_SELECTOR + ', ' + aside : OWN_UI_SELECTOR;
        if (!element.querySelector(skipped)) {
            return shownText(element);
        }
        const copy = element.cloneNode(true);
        for (const own of copy.querySelectorAll(skipped)) {
            own.remove();
        }
        return (copy.textContent || '').trim();
    }

    function flashAlarm(element) {
        element.style.outline = ALARM_OUTLINE;
        setTimeout(() => {
            element.style.outline = '';
        }, ALARM_DURATION);
    }

    function viewportHeight() {
        return window.innerHeight || document.documentElement.clientHeight || 0;
    }

    function viewportWidth() {
        return window.innerWidth || document.documentElement.clientWidth || 0;
    }

    function rectInView(rect, height) {
        return rect.width > 0 && rect.height > 0 && rect.bottom >= -VIEW_MARGIN &&
            rect.top <= height + VIEW_MARGIN;
    }

    function isInView(element) {
        return rectInView(element.getBoundingClientRect(), viewportHeight());
    }

    // ---------------------------------------------------------------- composer state

    const composerWarmCache = {
        source: '', translated: '', pendingSource: '', pendingID: '', sendWhenReady: false,
    };
    let composerWarmTimer = 0;
    // The text this script last put into a composer before sending it; the bypass belongs to it.
    const bypassTexts = new WeakMap();
    // Composers this script is putting text into: the input events of that are not the user's.
    const placingInto = new WeakSet();

    // Editors may turn spaces into no-break spaces or merge them while they settle; that is not
    // an edit by the user.
    function collapseSpace(text) {
        return text.replace(/\s+/g, ' ');
    }

    function resetWarmCache() {
        composerWarmCache.source = '';
        composerWarmCache.translated = '';
        composerWarmCache.pendingSource = '';
        composerWarmCache.pendingID = '';
        composerWarmCache.sendWhenReady = false;
    }

    function isComposer(element) {
        return element !== null && element.isContentEditable &&
            element.getBoundingClientRect().height > 0;
    }

    function findComposer() {
        const editables = document.querySelectorAll(EDITABLE_SELECTOR);
        for (let index = editables.length - 1; index >= 0; index -= 1) {
            const element = editables[index];
            if (element.isConnected && isComposer(element)) {
                return element;
            }
        }
        return null;
    }

    function composerAt(target) {
        const element = elementOf(target);
        const editable = element ? element.closest(EDITABLE_SELECTOR) : null;
        return editable && editable.isContentEditable ? editable : null;
    }

    function clearComposerRequest(composer) {
        delete composer.dataset.aureloTranslating;
        composer.removeAttribute(COMPOSER_ID_ATTRIBUTE);
    }

    function bypassActive(composer) {
        return Number(composer.dataset.aureloBypassUntil || 0) > Date.now();
    }

    // ---------------------------------------------------------------- composer insertion

    // The editable whose input-method composition is open. Between preedit and commit the
    // composer's text is not the user's yet: nothing is sent from it and nothing is put into it.
    let compositionHost = null;
    const afterComposition = [];

    function isComposing(composer) {
        return compositionHost !== null && compositionHost === composer && composer.isConnected;
    }

    document.addEventListener('compositionstart', (event) => {
        compositionHost = composerAt(event.target);
    }, true);
    document.addEventListener('compositionend', (event) => {
        compositionHost = null;
        // The input events of a composition all come before its end, marked as composing: the
        // committed text, already in the element, is first the user's here. Taken at once, as
        // an Enter may follow in the very next task.
        const composer = composerAt(event.target);
        if (composer && !placingInto.has(composer)) {
            composerChanged(composer, false);
        }
        // Editors take the committed text into their model in their own compositionend
        // handlers, after this capturing one, and some (Draft.js) on a timer after that: text
        // put in before then is merged with the commit.
        setTimeout(() => {
            for (const waiting of afterComposition.splice(0)) {
                waiting();
            }
        }, COMMIT_SETTLE_WAIT);
    }, true);

    function wait(milliseconds) {
        return new Promise((resolve) => setTimeout(resolve, milliseconds));
    }

    // The next frame, or a moment when the page draws none (a view in the background).
    function nextFrame() {
        return new Promise((resolve) => {
            const timer = setTimeout(resolve, SETTLE_WAIT);
            requestAnimationFrame(() => setTimeout(() => {
                clearTimeout(timer);
                resolve();
            }, 0));
        });
    }

    function sameText(shown, wanted) {
        return collapseSpace(shown).trim() === collapseSpace(wanted).trim();
    }

    function selectsAllOf(composer) {
        const selection = window.getSelection();
        if (!selection || selection.rangeCount !== 1) {
            return false;
        }
        const range = selection.getRangeAt(0);
        return range.startContainer === composer && range.startOffset === 0 &&
            range.endContainer === composer && range.endOffset === composer.childNodes.length;
    }

    // Editors learn of a selection from "selectionchange", which comes a task later, and replace
    // the selection they know of.
    async function selectAllOf(composer) {
        composer.focus();
        if (selectsAllOf(composer)) {
            return;
        }
        const range = document.createRange();
        range.selectNodeContents(composer);
        const changed = new Promise((resolve) => {
            const timer = setTimeout(resolve, SELECTION_WAIT);
            document.addEventListener('selectionchange', () => {
                clearTimeout(timer);
                setTimeout(resolve, 0);
            }, { once: true });
        });
        const selection = window.getSelection();
        selection.removeAllRanges();
        selection.addRange(range);
        await changed;
    }

    function plainTransfer(text) {
        const transfer = new DataTransfer();
        transfer.setData('text/plain', text);
        return transfer;
    }

    // Enters and send clicks seen so far: a text the user sends while the editor is still taking
    // it in has been taken.
    let sendAttempts = 0;

    // Each way returns whether the page acted on it. Rich-text editors keep a model of the text
    // and render the element from it: an edit made to the element behind their back (as the
    // editing commands do on Draft.js) is undone or merged into the next message. So the text
    // goes in first as what every editor takes from the user with its model in the loop, a
    // plain-text paste; then as a replacing input event, for editors that only listen to those
    // (WebKit's InputEvent carries no DataTransfer or target range from a script, only the
    // data); and the browser's own insertion only for an element no editor handles.
    const INSERTION_WAYS = [
        (composer, text) => {
            const paste = new ClipboardEvent('paste', {
                clipboardData: plainTransfer(text), bubbles: true, cancelable: true,
            });
            return !composer.dispatchEvent(paste);
        },
        (composer, text) => {
            const input = new InputEvent('beforeinput', {
                inputType: 'insertReplacementText', data: text, bubbles: true, cancelable: true,
            });
            return !composer.dispatchEvent(input);
        },
        (composer, text) => {
            composer.focus();
            return document.execCommand('insertText', false, text);
        },
    ];

    // One way, over the whole of the composer: "ignored" when the page did not act on it,
    // "taken" once the editor, settled, shows the text, otherwise "missed".
    async function insertOneWay(composer, text, insert, selectionSettle) {
        await selectAllOf(composer);
        if (selectionSettle > 0) {
            await wait(selectionSettle);
        }
        if (isComposing(composer) || !composer.isConnected) {
            return 'missed';
        }
        const before = shownText(composer);
        const acted = insert(composer, text);
        if (!acted && shownText(composer) === before) {
            return 'ignored';
        }
        // Shown at once and changed again, or sent, before the editor settled: the page moved on
        // (an Enter or a click sent it, which empties a composer that was empty before), which is
        // not the editor turning the text down.
        const shownAtOnce = sameText(shownText(composer), text);
        const sendsBefore = sendAttempts;
        for (let waited = 0; waited < SETTLE_LIMIT; waited += SETTLE_WAIT) {
            await nextFrame();
            const shown = shownText(composer);
            if (sameText(shown, text) ||
                (shownAtOnce && (shown !== before || sendAttempts !== sendsBefore))) {
                return 'taken';
            }
        }
        return 'missed';
    }

    // Replaces the composer's text with `text` and reports whether the editor took it: once the
    // editor has rendered what its model holds, the composer shows that text. Only the first way
    // the editor acts on is used; another on top would add the text twice. Never runs into an
    // open composition.
    async function insertIntoComposer(composer, text) {
        if (isComposing(composer) || !composer.isConnected) {
            return false;
        }
        // Trix takes in no selection while a render of the last keystroke is pending.
        await nextFrame();
        for (const insert of INSERTION_WAYS) {
            let result = await insertOneWay(composer, text, insert, 0);
            if (result === 'missed' && !isComposing(composer) && composer.isConnected) {
                // Some editors take in at most one selection change per 100 ms (Slate), so the
                // selection made just after the user's own typing reached them late, and the text
                // went in at the caret. Again over the whole, once they have it.
                result = await insertOneWay(composer, text, insert, SELECTION_QUIET);
            }
            if (result !== 'ignored') {
                return result === 'taken';
            }
        }
        return false;
    }

    // A line after the guard label's rules, for why the last send or insertion did not happen;
    // the next edit takes it away.
    function guardNote(note) {
        if (note) {
            ensureComposerGuardLabel();
        }
        const label = document.querySelector('.aurelo-composer-guard');
        if (!label) {
            return;
        }
        let line = label.querySelector('.aurelo-composer-guard-note');
        if (!note) {
            if (line) {
                line.remove();
            }
            return;
        }
        if (!line) {
            line = document.createElement('span');
            line.className = 'aurelo-composer-guard-note';
            line.setAttribute('style', 'color:#b91c1c');
            label.appendChild(line);
        }
        line.textContent = ' · ' + note;
    }

    // A translation that cannot go out: the composer keeps the user's text, and says why.
    function refuseTranslation(composer, note) {
        clearComposerRequest(composer);
        composer.title = note;
        flashAlarm(composer);
        guardNote(note);
    }

    function showChineseBlocked(composer) {
        if (!composer) {
            return;
        }
        if (!sendTranslationAvailable) {
            composer.title = '中文原文禁止直接发送：' + SEND_UNAVAILABLE_NOTE;
        } else {
            composer.title = sendTranslationEnabled ? '正在翻译，中文原文不会直接发送'
                                                    : '中文原文禁止直接发送，请开启发送翻译';
        }
        flashAlarm(composer);
    }

    function requestComposerTranslation(composer) {
        if (!sendTranslationEnabled) {
            return false;
        }
        checkConversation();
        const text = shownText(composer);
        if (!shouldTranslateComposer(text) || composer.dataset.aureloTranslating === '1') {
            return false;
        }
        if (!outgoingLanguageReady()) {
            // The chat changed and the host has not yet said its customer's language: the send
            // waits for it rather than leaving in the language of the chat before.
            composer.dataset.aureloTranslating = '1';
            languageWaiter = composer;
            return true;
        }
        if (composerWarmCache.source === text && composerWarmCache.translated) {
            sendTranslatedComposer(composer, composerWarmCache.translated);
            return true;
        }
        if (composerWarmCache.pendingSource === text) {
            composer.dataset.aureloTranslating = '1';
            composerWarmCache.sendWhenReady = true;
            return true;
        }
        const id = makeID();
        composer.dataset.aureloTranslating = '1';
        composer.dataset.aureloSource = text;
        composer.setAttribute(COMPOSER_ID_ATTRIBUTE, id);
        post({ kind: 'composer', id: id, text: text, target: outgoingLanguage });
        return true;
    }

    function findSendControl() {
        const icon = document.querySelector('[data-icon="send"]');
        const viaIcon = icon ? icon.closest('button,[role="button"]') : null;
        if (viaIcon) {
            return viaIcon;
        }
        for (const control of document.querySelectorAll('button,[role="button"]')) {
            const label = control.getAttribute('aria-label') || control.getAttribute('title') || '';
            if (/send|发送/i.test(label)) {
                return control;
            }
        }
        return null;
    }

    function pressSend(composer) {
        const control = findSendControl();
        if (control) {
            // As a person's click does, the focus goes to the button and back: editors that
            // track focus (Draft.js) see the send leave the composer, and set their caret anew
            // when it comes back, instead of typing on into a selection the page cleared.
            const focused = composer.contains(document.activeElement);
            control.focus({ preventScroll: true });
            control.click();
            if (focused && document.activeElement === control) {
                composer.focus({ preventScroll: true });
            }
            return;
        }
        composer.focus();
        composer.dispatchEvent(new KeyboardEvent('keydown', {
            key: 'Enter', code: 'Enter', keyCode: 13, which: 13,
            bubbles: true, cancelable: true,
        }));
    }

    async function sendTranslatedComposer(composer, translated) {
        // A cached warm translation that is unusable would block every later Enter on this text
        // without asking again: it goes, so the next Enter requests a fresh one.
        resetWarmCache();
        if (hasChinese(translated)) {
            // An engine that hands back its source (or part of it) would otherwise put Chinese
            // into the composer in the name of a translation.
            refuseTranslation(composer, REFUSED_CHINESE_NOTE);
            return;
        }
        if (isComposing(composer)) {
            // The user is typing again; this translation is for text that is no longer there.
            clearComposerRequest(composer);
            return;
        }
        // Held as translating while the editor takes the text, so that an Enter meanwhile
        // neither sends a half-placed text nor asks again.
        composer.dataset.aureloTranslating = '1';
        composer.removeAttribute(COMPOSER_ID_ATTRIBUTE);
        placingInto.add(composer);
        let taken = false;
        try {
            taken = await insertIntoComposer(composer, translated);
        } finally {
            placingInto.delete(composer);
        }
        if (!taken) {
            if (isComposing(composer)) {
                clearComposerRequest(composer);
            } else {
                refuseTranslation(composer, NOT_TAKEN_NOTE);
            }
            return;
        }
        clearComposerRequest(composer);
        guardNote('');
        bypassTexts.set(composer, collapseSpace(translated.trim()));
        composer.dataset.aureloBypassUntil = String(Date.now() + BYPASS_DURATION);
        const conversation = reportedConversation;
        setTimeout(() => {
            // The bypass lets the send through unchecked: only for the translation itself, and
            // only into the chat it was made for.
            if (!sameText(shownText(composer), translated) || checkConversation() !== conversation) {
                delete composer.dataset.aureloBypassUntil;
                refuseTranslation(composer, NOT_TAKEN_NOTE);
                return;
            }
            pressSend(composer);
        }, SEND_CLICK_DELAY);
    }

    // Holds a send whose text must not leave as it is. Returns whether it was held.
    function applyBlockRule(event, composer) {
        const text = shownText(composer);
        if (!text) {
            return false;
        }
        // While a translation is being put in, the composer holds neither the user's text nor
        // all of the translation yet.
        const placing = composer.dataset.aureloTranslating === '1' && !hasChinese(text);
        if (!placing && !hasChinese(text) &&
            !(sendTranslationEnabled && shouldTranslateComposer(text))) {
            return false;
        }
        event.preventDefault();
        event.stopImmediatePropagation();
        if (placing) {
            return true;
        }
        if (sendTranslationEnabled) {
            requestComposerTranslation(composer);
        } else {
            showChineseBlocked(composer);
        }
        return true;
    }

    function guardSendAttempt(event) {
        sendAttempts += 1;
        const composer = findComposer();
        if (!composer || bypassActive(composer) || !shownText(composer)) {
            return;
        }
        if (isComposing(composer)) {
            // The preedit is not the user's text yet: whatever it will become is checked once
            // the input method commits it.
            event.preventDefault();
            event.stopImmediatePropagation();
            return;
        }
        applyBlockRule(event, composer);
    }

    function onComposerKeyDown(event) {
        // keyCode 229 is what WebKit reports for a key the input method is still handling.
        if (event.key !== 'Enter' || event.shiftKey || event.isComposing || event.keyCode === 229) {
            return;
        }
        sendAttempts += 1;
        const composer = composerAt(event.target);
        if (!composer || bypassActive(composer)) {
            return;
        }
        applyBlockRule(event, composer);
    }

    function onSendClick(event) {
        const target = elementOf(event.target);
        if (!target || !target.closest(
            '[data-icon="send"], button[aria-label*="send" i], button[title*="send" i]')) {
            return;
        }
        guardSendAttempt(event);
    }

    // The composer's text changed by the user's hand (or by text the app put in for the user).
    function composerChanged(composer, composing) {
        // The bypass lets exactly the text we placed go out. Once the user edits the composer,
        // what stands there is no longer that text, so it has to pass the checks again.
        if (composer.dataset.aureloBypassUntil &&
            collapseSpace(shownText(composer)) !== bypassTexts.get(composer)) {
            delete composer.dataset.aureloBypassUntil;
        }
        if (!sendTranslationEnabled) {
            return;
        }
        clearComposerRequest(composer);
        clearTimeout(composerWarmTimer);
        composerWarmTimer = 0;
        resetWarmCache();
        const text = shownText(composer);
        if (composing || !shouldTranslateComposer(text)) {
            return;
        }
        composerWarmTimer = setTimeout(() => {
            composerWarmTimer = 0;
            const current = shownText(composer);
            checkConversation();
            if (current !== text || !shouldTranslateComposer(current) || !outgoingLanguageReady()) {
                return;
            }
            composerWarmCache.pendingSource = text;
            composerWarmCache.pendingID = makeID();
            post({ kind: 'composerWarm', id: composerWarmCache.pendingID, text: text,
                target: outgoingLanguage });
        }, WARM_DELAY);
    }

    function onComposerInput(event) {
        const composer = composerAt(event.target);
        if (!composer || placingInto.has(composer)) {
            return;
        }
        guardNote('');
        composerChanged(composer, event.isComposing);
    }

    // A page whose composer is a plain text field: the value goes in through the field's own
    // setter (frameworks such as React replace the instance's), and the page hears of it.
    function insertIntoField(field, text) {
        field.focus();
        const descriptor = Object.getOwnPropertyDescriptor(Object.getPrototypeOf(field), 'value');
        const setValue = descriptor && descriptor.set
            ? (value) => descriptor.set.call(field, value)
            : (value) => { field.value = value; };
        setValue('');
        field.dispatchEvent(new InputEvent('input', {
            bubbles: true, inputType: 'deleteContentBackward', data: null,
        }));
        setValue(text);
        field.dispatchEvent(new Event('input', { bubbles: true }));
        return true;
    }

    function findTextField() {
        const fields = document.querySelectorAll('textarea, input[type="text"]');
        return fields.length ? fields[fields.length - 1] : null;
    }

    // Puts text from the app (the translation box, the phrase library) into the composer, in
    // place of what it holds, once any composition in it is committed. Only the latest text
    // waits for a commit.
    async function insertAppText(text) {
        const composer = findComposer();
        if (!text) {
            return false;
        }
        if (!composer) {
            const field = findTextField();
            return field ? insertIntoField(field, text) : false;
        }
        if (isComposing(composer)) {
            afterComposition.splice(0, afterComposition.length, () => insertAppText(text));
            return true;
        }
        placingInto.add(composer);
        let taken = false;
        try {
            taken = await insertIntoComposer(composer, text);
        } finally {
            placingInto.delete(composer);
        }
        if (!taken) {
            if (isComposing(composer)) {
                afterComposition.splice(0, afterComposition.length, () => insertAppText(text));
                return true;
            }
            composer.title = INSERTION_NOT_TAKEN_NOTE;
            flashAlarm(composer);
            guardNote(INSERTION_NOT_TAKEN_NOTE);
            return false;
        }
        guardNote('');
        composer.removeAttribute('title');
        composerChanged(composer, false);
        return true;
    }

    window.aureloInsertText = function (text) {
        return insertAppText(String(text ?? ''));
    };

    function ensureComposerGuardLabel() {
        if (document.querySelector('.aurelo-composer-guard')) {
            return;
        }
        const composer = findComposer();
        if (!composer) {
            return;
        }
        const container = (composer.parentElement && composer.parentElement.parentElement) ||
            composer.parentElement;
        if (!container) {
            return;
        }
        const label = document.createElement('div');
        label.className = 'aurelo-composer-guard';
        if (!sendTranslationAvailable) {
            label.textContent = '发送翻译：此平台请用翻译框 · 中文原文禁止发送';
            label.title = SEND_UNAVAILABLE_NOTE;
        } else {
            label.textContent = sendTranslationEnabled
                ? '发送翻译：开启 · → ' + outgoingLanguage + ' · 中文原文禁止发送'
                : '发送翻译：关闭 · 中文原文禁止发送';
        }
        label.setAttribute('style',
            'position:absolute;right:72px;top:-25px;z-index:30;padding:4px 9px;' +
            'border-radius:9px;background:#eef2ff;color:#4338ca;border:1px solid #c7d2fe;' +
            'font:600 11px/1.2 -apple-system,BlinkMacSystemFont,sans-serif;' +
            'box-shadow:0 2px 7px rgba(15,23,42,.08);pointer-events:none;');
        if (getComputedStyle(container).position === 'static') {
            container.style.position = 'relative';
        }
        container.appendChild(label);
    }

    document.addEventListener('keydown', onComposerKeyDown, true);
    document.addEventListener('click', onSendClick, true);
    document.addEventListener('submit', guardSendAttempt, true);
    document.addEventListener('input', onComposerInput, true);

    ensureComposerGuardLabel();
    setInterval(ensureComposerGuardLabel, GUARD_INTERVAL);

    // ---------------------------------------------------------------- unread count

    let lastUnread = -1;

    function countUnread() {
        const titled = /^\((\d+)\)/.exec(document.title || '');
        let count = 0;
        if (titled) {
            count = Number(titled[1]);
        } else {
            const badges = document.querySelectorAll(
                '[aria-label*="unread" i], [data-testid*="unread" i]');
            for (const badge of badges) {
                const digits = /\d+/.exec(badge.getAttribute('aria-label') || '');
                let value = 0;
                if (digits) {
                    value = Number(digits[0]);
                } else {
                    const text = (badge.textContent || '').trim();
                    value = /^\d+$/.test(text) ? Number(text) : 0;
                }
                count += Number.isNaN(value) ? 0 : value;
            }
        }
        if (Number.isNaN(count)) {
            return 0;
        }
        return Math.min(MAXIMUM_UNREAD, Math.max(0, count));
    }

    function reportUnread() {
        const count = countUnread();
        if (count !== lastUnread) {
            lastUnread = count;
            post({ kind: 'unread', count: count });
        }
    }

    reportUnread();
    setInterval(reportUnread, UNREAD_INTERVAL);

    // ---------------------------------------------------------------- log-in state

    // What each platform shows while nobody is logged in: its QR-code or password view.
    const LOGIN_VIEWS = [
        [/(^|\.)whatsapp\.com$/, '[data-ref] canvas, canvas[aria-label*="scan" i], [data-testid="qrcode"]'],
        [/(^|\.)telegram\.org$/, '.page-signQR, .page-sign, .auth-pages, #auth-pages'],
        [/(^|\.)instagram\.com$/, 'form#loginForm, input[name="password"]'],
        [/(^|\.)(messenger|facebook)\.com$/, '#login_form, input[name="pass"]'],
        [/^accounts\.google\.com$/, 'input[type="email"], input[type="password"]'],
        [/(^|\.)(x|twitter)\.com$/, 'input[autocomplete="username"], input[name="password"]'],
        [/(^|\.)tiktok\.com$/, '[data-e2e="login-modal"], input[type="password"]'],
    ];
    let lastLoggedOut = null;

    // A square canvas big enough to be scanned from a phone.
    function hasQRLikeCanvas() {
        for (const canvas of document.querySelectorAll('canvas')) {
            const box = canvas.getBoundingClientRect();
            if (box.width >= 120 && Math.abs(box.width - box.height) < 4) {
                return true;
            }
        }
        return false;
    }

    function showsLoginView() {
        const host = (location.hostname || '').toLowerCase();
        for (const [pattern, selector] of LOGIN_VIEWS) {
            if (pattern.test(host)) {
                return document.querySelector(selector) !== null;
            }
        }
        // Any other website: nothing unread to report, and a password field or a QR code.
        return lastUnread <= 0 &&
            (document.querySelector('input[type="password"]') !== null || hasQRLikeCanvas());
    }

    function reportLogin() {
        const loggedOut = showsLoginView();
        if (loggedOut !== lastLoggedOut) {
            lastLoggedOut = loggedOut;
            post({ kind: 'login', loggedOut: loggedOut });
        }
    }

    reportLogin();
    setInterval(reportLogin, UNREAD_INTERVAL);

    // ---------------------------------------------------------------- chat markups

    // The chat markups this script reads. Each names the elements that may be messages
    // (`candidates`, one selector for the observer and the scans), whether one is (`isMessage`),
    // the element inside it that holds its text and gets the translation (`textOf`), how that
    // text is read (`read`), whether the agent wrote it (`isOwn`), and a cheap test that the page
    // shows any (`shown`).
    const WHATSAPP_MESSAGE = '.message-in, .message-out';
    const TELEGRAM_BUBBLE = '.bubble[data-mid]:not(.service)';
    const TELEGRAM_MESSAGE = '.Message[data-message-id]';
    const META_ROW = '[role="grid"] [role="row"]';
    const META_TEXT = 'div[dir="auto"]';
    // Messenger and Instagram keep the open thread at "/t/<id>"; their generated class names say
    // nothing, so their rows count as messages only on such an address.
    const META_THREAD_PATH = /\/t\/[^/?#]/;

    function lastMetaText(row) {
        const texts = row.querySelectorAll(META_TEXT);
        for (let index = texts.length - 1; index >= 0; index -= 1) {
            const text = texts[index];
            // The innermost block with words: a reply quotes the message first and says its
            // own last.
            if (!text.closest(OWN_UI_SELECTOR) && !text.querySelector(META_TEXT) &&
                shownText(text)) {
                return text;
            }
        }
        return null;
    }

    // Messenger marks neither side in its markup; the agent's messages stand on the trailing side
    // of the conversation (the right, or the left on a right-to-left page).
    function standsOnAgentsSide(text, row) {
        const bubble = text.getBoundingClientRect();
        const pane = (row.closest('[role="grid"]') || row).getBoundingClientRect();
        const middle = (bubble.left + bubble.right) / 2;
        const rightToLeft = getComputedStyle(row).direction === 'rtl';
        const centre = (pane.left + pane.right) / 2;
        return rightToLeft ? middle < centre : middle > centre;
    }

    const MESSAGE_MARKUPS = [
        {   // WhatsApp: a message in or out, or any element with an id around a plain-text block.
            candidates: WHATSAPP_MESSAGE + ', [data-id]',
            isMessage: (element) => element.matches(WHATSAPP_MESSAGE) ||
                (element.hasAttribute('data-id') &&
                 element.querySelector(PLAIN_TEXT_SELECTOR) !== null),
            textOf: (message) => message.querySelector('div.copyable-text' + PLAIN_TEXT_SELECTOR) ||
                message.querySelector(PLAIN_TEXT_SELECTOR),
            read: readWhatsAppText,
            isOwn: (message) => message.closest('.message-out') !== null ||
                message.querySelector(
                    '.message-out,[data-icon="msg-check"],[data-icon="msg-dblcheck"]') !== null,
            shown: () => document.querySelector(
                WHATSAPP_MESSAGE + ', [data-id] ' + PLAIN_TEXT_SELECTOR) !== null,
        },
        {   // Telegram's "K" client: bubbles with a message id; the time and reactions sit
            // inside the text.
            candidates: TELEGRAM_BUBBLE,
            isMessage: (element) => element.matches(TELEGRAM_BUBBLE),
            textOf: (message) => message.querySelector('.message'),
            read: (text) => pageText(text.querySelector('.translatable-message') || text,
                '.time, .reactions, .reply, .name'),
            isOwn: (message) => message.classList.contains('is-out'),
            shown: () => document.querySelector(TELEGRAM_BUBBLE + ' .message') !== null,
        },
        {   // Telegram's "A" client.
            candidates: TELEGRAM_MESSAGE,
            isMessage: (element) => element.matches(TELEGRAM_MESSAGE),
            textOf: (message) => message.querySelector('.text-content'),
            read: (text) => pageText(text, '.MessageMeta, .Reactions, .embedded-message'),
            isOwn: (message) => message.classList.contains('own'),
            shown: () => document.querySelector(TELEGRAM_MESSAGE + ' .text-content') !== null,
        },
        {   // Messenger and Instagram: rows of the conversation's grid.
            candidates: '[role="row"]',
            isMessage: (element) => META_THREAD_PATH.test(location.pathname || '') &&
                element.matches(META_ROW) && lastMetaText(element) !== null,
            textOf: lastMetaText,
            read: (text) => pageText(text),
            isOwn: (message) => {
                const text = lastMetaText(message);
                return text !== null && standsOnAgentsSide(text, message);
            },
            shown: () => META_THREAD_PATH.test(location.pathname || '') &&
                document.querySelector(META_ROW + ' ' + META_TEXT) !== null,
        },
    ];
    const CANDIDATE_SELECTOR = MESSAGE_MARKUPS.map((markup) => markup.candidates).join(', ');

    // The markup `element` is a message of, or null.
    function markupOf(element) {
        for (const markup of MESSAGE_MARKUPS) {
            if (element.matches(markup.candidates) && markup.isMessage(element)) {
                return markup;
            }
        }
        return null;
    }

    function isMessage(element) {
        return markupOf(element) !== null;
    }

    function readWhatsAppText(copyable) {
        const parts = [];
        for (const span of copyable.querySelectorAll('span.selectable-text')) {
            if (span.closest('.' + PANEL_CLASS)) {
                continue;
            }
            const text = (span.innerText || span.textContent || '').trim();
            if (text) {
                parts.push(text);
            }
        }
        // A reply shows the quoted message first and the reply itself last.
        return parts.length > 0 ? parts[parts.length - 1] : pageText(copyable);
    }

    // ---------------------------------------------------------------- recognised messages

    // Whether this page shows chat messages in a markup the script knows. A page that has shown
    // none after a grace period (and is not a log-in view) is reported once, so the window can
    // say why nothing is translated under the messages; the first message found reports again.
    const installedAt = Date.now();
    let lastRecognised = null;

    function reportRecognition() {
        const recognised = MESSAGE_MARKUPS.some((markup) => markup.shown());
        if (recognised === lastRecognised ||
            (!recognised && (Date.now() - installedAt < RECOGNITION_GRACE || lastLoggedOut))) {
            return;
        }
        lastRecognised = recognised;
        post({ kind: 'messages', recognised: recognised });
    }

    reportRecognition();
    setInterval(reportRecognition, UNREAD_INTERVAL);

    // ---------------------------------------------------------------- the open conversation

    // Where each platform shows which chat is open: its address first (Telegram puts the peer in
    // the fragment, Messenger and Instagram the thread in a "/t/<id>" path), otherwise the open
    // chat's header (WhatsApp's, whose message ids also name the chat). A page with none of
    // these has no conversation, and its account's own language is used.
    const CONVERSATION_FRAGMENT = /^#(@[A-Za-z0-9_]{3,64}|-?\d{1,20})$/;
    const CONVERSATION_PATH = /\/t\/([^/?#]{1,256})/;
    const WHATSAPP_MESSAGE_ID = /^(?:true|false)_([^_\s]{3,128})_/;

    let reportedConversation;
    let languageConversation;
    let languageWaiter = null;

    function conversationFromAddress() {
        const fragment = CONVERSATION_FRAGMENT.exec(location.hash || '');
        if (fragment) {
            return 'fragment:' + fragment[1];
        }
        const path = CONVERSATION_PATH.exec(location.pathname || '');
        return path ? 'path:' + decodeURIComponent(path[1]) : null;
    }

    function conversationFromHeader() {
        const main = document.getElementById('main');
        const title = main ? main.querySelector('header [title], header span[dir="auto"]') : null;
        const name = title ? (title.getAttribute('title') || title.textContent || '').trim() : '';
        if (name) {
            return 'header:' + name;
        }
        const peer = document.querySelector('.chat-info [data-peer-id], .topbar [data-peer-id]');
        const peerID = peer ? peer.getAttribute('data-peer-id') : '';
        if (peerID) {
            return 'peer:' + peerID;
        }
        // A chat without a header in view (narrow windows hide it) still names itself in the
        // ids of its messages.
        for (const message of main ? main.querySelectorAll('[data-id]') : []) {
            const id = WHATSAPP_MESSAGE_ID.exec(message.getAttribute('data-id') || '');
            if (id) {
                return 'chat:' + id[1];
            }
        }
        return null;
    }

    function currentConversation() {
        let conversation = null;
        try {
            conversation = conversationFromAddress() || conversationFromHeader();
        } catch (error) {
            // A malformed escape in the address: no conversation rather than no script.
        }
        return conversation && conversation.length <= MAXIMUM_CONVERSATION_LENGTH
            ? conversation : null;
    }

    function outgoingLanguageReady() {
        return !followsConversation || languageConversation === reportedConversation;
    }

    // Notices a change of chat, drops everything made for the chat before and tells the host.
    // Returns the open conversation (null for none).
    function checkConversation() {
        const current = currentConversation();
        if (current === reportedConversation) {
            return current;
        }
        reportedConversation = current;
        if (followsConversation) {
            clearTimeout(composerWarmTimer);
            composerWarmTimer = 0;
            resetWarmCache();
            for (const composer of document.querySelectorAll('[' + COMPOSER_ID_ATTRIBUTE + ']')) {
                clearComposerRequest(composer);
            }
            if (languageWaiter) {
                delete languageWaiter.dataset.aureloTranslating;
                languageWaiter = null;
            }
        }
        post({ kind: 'conversation', id: current });
        return current;
    }

    // The host's answer to a report: the language outgoing text of `conversation` is written in.
    // An answer for a conversation that is no longer open changes nothing.
    window.aureloSetOutgoingLanguage = function (code, conversation) {
        if (!followsConversation || typeof code !== 'string' || !code ||
            (conversation ?? null) !== (reportedConversation ?? null)) {
            return;
        }
        const changed = code !== outgoingLanguage;
        outgoingLanguage = code;
        languageConversation = reportedConversation;
        const waiter = languageWaiter;
        languageWaiter = null;
        if (waiter && waiter.isConnected) {
            delete waiter.dataset.aureloTranslating;
            requestComposerTranslation(waiter);
            return;
        }
        const composer = findComposer();
        if (changed && composer) {
            // A warm translation into the language before is useless now: warm up again.
            composerChanged(composer, false);
        }
    };

    window.addEventListener('hashchange', checkConversation);
    window.addEventListener('popstate', checkConversation);
    checkConversation();
    setInterval(checkConversation, CONVERSATION_INTERVAL);

    // ---------------------------------------------------------------- message translation

    let pendingNodes = new Set();
    let processTimer = 0;
    let scrollScanFrame = 0;

    function messagesOf(node) {
        const messages = [];
        if (isMessage(node)) {
            messages.push(node);
        }
        for (const candidate of node.querySelectorAll(CANDIDATE_SELECTOR)) {
            if (isMessage(candidate)) {
                messages.push(candidate);
            }
        }
        return messages;
    }

    function expandLongMessage(message) {
        for (const candidate of message.querySelectorAll('button,[role="button"],span')) {
            if (candidate.closest('.' + PANEL_CLASS)) {
                continue;
            }
            const raw = candidate.innerText || candidate.textContent ||
                candidate.getAttribute('aria-label') || '';
            const label = raw.trim().toLocaleLowerCase().replace(/\s+/g, ' ');
            if (!EXPAND_LABELS.has(label)) {
                continue;
            }
            if (candidate.dataset.aureloExpandPending === '1') {
                return false;
            }
            candidate.dataset.aureloExpandPending = '1';
            candidate.click();
            return true;
        }
        return false;
    }

    function translateMessage(message) {
        const markup = markupOf(message);
        if (!markup || !isInView(message)) {
            return;
        }
        enhanceVoiceMessage(message, markup);
        if (message.dataset.aureloTranslationSeen === '1') {
            return;
        }
        if (expandLongMessage(message)) {
            // Read the text only once the page has shown it whole.
            setTimeout(() => processMessage(message), EXPAND_RETRY_DELAY);
            return;
        }
        const host = markup.textOf(message);
        if (!host || host.dataset.aureloTranslationRequested === '1') {
            return;
        }
        const text = markup.read(host);
        if (!text || text.length > MAXIMUM_MESSAGE_LENGTH) {
            return;
        }
        const id = makeID();
        const own = markup.isOwn(message);
        const target = own ? ownMessageLanguage : incomingLanguage;
        const conversation = own ? null : checkConversation();
        message.dataset.aureloTranslationSeen = '1';
        host.dataset.aureloTranslationRequested = '1';
        host.dataset.aureloTranslationId = id;
        host.dataset.aureloTranslationSource = text;
        host.dataset.aureloTranslationTarget = target;
        if (conversation !== null) {
            // The customer's language is learnt from their messages: the host hears which
            // conversation each one belongs to.
            post({ id: id, text: text, target: target, conversation: conversation });
        } else {
            post({ id: id, text: text, target: target });
        }
    }

    function processMessage(node) {
        if (!translationActive || !isElement(node)) {
            return;
        }
        for (const message of messagesOf(node)) {
            translateMessage(message);
        }
    }

    function hasSize(rect) {
        return rect.width > 0 && rect.height > 0;
    }

    // Every in-view message, measuring each candidate: the reference algorithm, used whenever
    // the page does not lay its messages out in document order.
    function visibleMessagesOfAll(candidates, height) {
        const visible = [];
        for (let index = 0; index < candidates.length; index += 1) {
            const element = candidates[index];
            if (!isMessage(element)) {
                continue;
            }
            const rect = element.getBoundingClientRect();
            if (rectInView(rect, height)) {
                visible.push({ element: element, top: rect.top, index: index });
            }
        }
        return visible;
    }

    // The same set, found cheaply on a long chat. Chat panes list messages top to bottom in
    // document order and most of the history lies outside the viewport; measuring all of them
    // would force thousands of layout queries per scroll frame. So: a binary search for the
    // first message below the window, then a walk upwards that ends after a run of messages
    // above it. Any sign that the layout is not in document order (a message lower down than
    // the one after it, or one in view past the boundary) returns null, and the caller falls
    // back to measuring everything.
    const ORDER_CHECK_RUN = 24;

    function visibleMessagesInOrder(candidates, height) {
        const limit = height + VIEW_MARGIN;
        const measure = (index) => {
            const element = candidates[index];
            if (!isMessage(element)) {
                return null;
            }
            const rect = element.getBoundingClientRect();
            return hasSize(rect) ? rect : null;
        };
        let low = 0;
        let high = candidates.length;
        while (low < high) {
            const middle = (low + high) >>> 1;
            let index = middle;
            let rect = null;
            while (index < high && !(rect = measure(index))) {
                index += 1;
            }
            if (!rect || rect.top > limit) {
                high = middle;
            } else {
                low = index + 1;
            }
        }
        // Past the boundary every measured message must lie below the window.
        let checked = 0;
        for (let index = low; index < candidates.length && checked < ORDER_CHECK_RUN; index += 1) {
            const rect = measure(index);
            if (rect) {
                if (rect.top <= limit) {
                    return null;
                }
                checked += 1;
            }
        }
        const visible = [];
        let aboveRun = 0;
        let previousTop = Infinity;
        for (let index = low - 1; index >= 0 && aboveRun < ORDER_CHECK_RUN; index -= 1) {
            const rect = measure(index);
            if (!rect) {
                continue;
            }
            if (rect.top > previousTop + 0.5) {
                return null;
            }
            previousTop = rect.top;
            if (rectInView(rect, height)) {
                visible.push({ element: candidates[index], top: rect.top, index: index });
                aboveRun = 0;
            } else if (rect.bottom < -VIEW_MARGIN) {
                aboveRun += 1;
            }
        }
        return visible;
    }

    function scanVisibleMessages() {
        if (!translationActive) {
            return;
        }
        const height = viewportHeight();
        const candidates = document.querySelectorAll(CANDIDATE_SELECTOR);
        const visible = visibleMessagesInOrder(candidates, height) ||
            visibleMessagesOfAll(candidates, height);
        visible.sort((a, b) => a.top - b.top || a.index - b.index);
        for (const entry of visible.slice(-SCAN_LIMIT)) {
            processMessage(entry.element);
        }
    }

    function flushPendingNodes() {
        processTimer = 0;
        const nodes = pendingNodes;
        pendingNodes = new Set();
        if (!translationActive) {
            return;
        }
        const unique = new Set();
        for (const node of nodes) {
            for (const message of messagesOf(node)) {
                unique.add(message);
            }
        }
        const inView = [];
        for (const message of unique) {
            if (isInView(message)) {
                inView.push(message);
            }
        }
        for (const message of inView.slice(-FLUSH_LIMIT)) {
            processMessage(message);
        }
    }

    function redrawPanel(host, translated, failed) {
        let panel = null;
        for (const child of host.children) {
            if (child.classList.contains(PANEL_CLASS)) {
                panel = child;
                break;
            }
        }
        if (!panel) {
            panel = document.createElement('div');
            panel.className = PANEL_CLASS;
            panel.setAttribute('style',
                'margin:6px 2px 1px;padding:7px 8px 7px 10px;border-radius:9px;' +
                'background:rgba(212,175,55,.10);border-left:3px solid ' + translationFontColor +
                ';color:' + translationFontColor + ';font-size:' + translationFontSize +
                'px;line-height:1.45;display:flex;align-items:flex-end;gap:8px;user-select:text;');
            host.appendChild(panel);
        }
        panel.style.color = failed ? '#d97706' : translationFontColor;
        panel.style.borderLeftColor = failed ? '#f59e0b' : translationFontColor;

        const text = document.createElement('span');
        text.setAttribute('style',
            'flex:1;min-width:0;white-space:pre-wrap;overflow-wrap:anywhere;');
        text.textContent = (failed ? '⚠ ' : '译：') + translated;

        const retry = document.createElement('button');
        retry.type = 'button';
        retry.setAttribute('aria-label', '重新翻译此消息');
        retry.title = '重新翻译此消息';
        retry.textContent = '↻';
        retry.setAttribute('style',
            'flex:0 0 auto;width:24px;height:24px;padding:0;' +
            'border:1px solid rgba(37,99,235,.22);border-radius:7px;' +
            'background:rgba(255,255,255,.52);color:inherit;' +
            'font:600 17px/22px -apple-system,BlinkMacSystemFont,sans-serif;cursor:pointer;');
        retry.addEventListener('click', (event) => retryTranslation(event, host, retry));

        panel.replaceChildren(text, retry);
    }

    function retryTranslation(event, host, button) {
        event.preventDefault();
        event.stopPropagation();
        if (host.dataset.aureloRefreshPending === '1') {
            return;
        }
        const text = host.dataset.aureloTranslationSource || '';
        const target = host.dataset.aureloTranslationTarget || (hasChinese(text) ? 'en' : 'zh-CN');
        if (!text) {
            return;
        }
        host.dataset.aureloRefreshPending = '1';
        button.disabled = true;
        button.textContent = '…';
        post({ id: host.dataset.aureloTranslationId || '', text: text, target: target });
    }

    // ---------------------------------------------------------------- callbacks for the host

    window.aureloSetTranslation = function (id, translated, failed) {
        const host = findByAttribute('data-aurelo-translation-id', id);
        if (!host) {
            return;
        }
        delete host.dataset.aureloRefreshPending;
        redrawPanel(host, String(translated ?? ''), Boolean(failed));
    };

    window.aureloSetComposerTranslation = function (id, translated, failed) {
        const composer = findByAttribute(COMPOSER_ID_ATTRIBUTE, id);
        if (!composer) {
            return;
        }
        if (shownText(composer) !== (composer.dataset.aureloSource || '')) {
            clearComposerRequest(composer);
            return;
        }
        clearComposerRequest(composer);
        if (failed) {
            composer.title = String(translated ?? '');
            flashAlarm(composer);
            return;
        }
        composer.removeAttribute('title');
        sendTranslatedComposer(composer, String(translated ?? ''));
    };

    window.aureloSetComposerWarm = function (id, source, translated, failed) {
        // Only the answer to the latest request: one made before a change of chat (or of its
        // language) is for the same text in another language.
        if (String(source ?? '') !== composerWarmCache.pendingSource ||
            String(id ?? '') !== composerWarmCache.pendingID) {
            return;
        }
        composerWarmCache.pendingSource = '';
        composerWarmCache.pendingID = '';
        const composer = findComposer();
        if (failed) {
            composerWarmCache.sendWhenReady = false;
            if (composer) {
                delete composer.dataset.aureloTranslating;
            }
            return;
        }
        if (!composer || shownText(composer) !== source) {
            return;
        }
        if (hasChinese(String(translated ?? ''))) {
            // Not kept: the next Enter asks again, and a send that waited for it is refused.
            if (composerWarmCache.sendWhenReady) {
                sendTranslatedComposer(composer, String(translated ?? ''));
            }
            return;
        }
        composerWarmCache.source = source;
        composerWarmCache.translated = String(translated ?? '');
        if (composerWarmCache.sendWhenReady) {
            composerWarmCache.sendWhenReady = false;
            sendTranslatedComposer(composer, composerWarmCache.translated);
        }
    };

    // ---------------------------------------------------------------- voice messages

    function sleep(milliseconds) {
        return new Promise((resolve) => setTimeout(resolve, milliseconds));
    }

    function readAsDataURL(blob) {
        return new Promise((resolve, reject) => {
            const reader = new FileReader();
            reader.onload = () => resolve(String(reader.result));
            reader.onerror = () => reject(reader.error);
            reader.readAsDataURL(blob);
        });
    }

    function findAudio(message) {
        return message.querySelector('audio, video[src], [data-testid*="audio"] audio');
    }

    async function translateVoice(message, button, id) {
        button.disabled = true;
        button.textContent = '正在读取语音…';
        const fail = (reason) => {
            button.disabled = false;
            button.textContent = '重试语音翻译';
            window.aureloSetVoiceTranslation(id, '', reason, true);
        };
        const audio = findAudio(message);
        if (!audio) {
            fail('请先播放一次语音后重试');
            return;
        }
        if (!audio.currentSrc && !audio.getAttribute('src')) {
            try {
                audio.load();
            } catch (error) {
                // A media element that refuses to load simply has no source below.
            }
            await sleep(VOICE_LOAD_WAIT);
        }
        const source = audio.currentSrc || (audio.getAttribute('src') ? audio.src : '');
        if (!source) {
            fail('请先播放一次语音后重试');
            return;
        }
        let blob;
        try {
            const response = await fetch(source, { credentials: 'include' });
            if (!response.ok) {
                fail('无法读取语音文件');
                return;
            }
            blob = await response.blob();
        } catch (error) {
            // A refused or broken transfer is the same failure for the user as a bad status.
            fail('无法读取语音文件');
            return;
        }
        if (blob.size === 0) {
            fail('语音内容为空');
            return;
        }
        if (blob.size > MAXIMUM_VOICE_BYTES) {
            fail('语音文件超过18MB');
            return;
        }
        let dataURL;
        try {
            dataURL = await readAsDataURL(blob);
        } catch (error) {
            button.disabled = false;
            button.textContent = '重试语音翻译';
            return;
        }
        button.textContent = '正在转写和翻译…';
        post({
            kind: 'voice',
            id: id,
            data: dataURL.slice(dataURL.indexOf(',') + 1),
            mime: blob.type || 'audio/ogg',
            source: inputLanguage,
            target: incomingLanguage,
        });
    }

    function enhanceVoiceMessage(message, markup) {
        if (message.dataset.aureloVoiceReady === '1' || !findAudio(message)) {
            return;
        }
        const id = makeID();
        message.dataset.aureloVoiceReady = '1';
        message.dataset.aureloVoiceId = id;
        const button = document.createElement('button');
        button.type = 'button';
        button.className = 'aurelo-voice-button';
        button.textContent = '识别语音并翻译';
        button.setAttribute('style',
            'margin:5px 3px;padding:5px 9px;border:1px solid rgba(37,99,235,.25);' +
            'border-radius:8px;background:rgba(255,255,255,.7);color:#2563eb;' +
            'font:600 11px -apple-system,sans-serif;cursor:pointer;');
        button.addEventListener('click', (event) => {
            event.preventDefault();
            event.stopPropagation();
            translateVoice(message, button, id);
        });
        (markup.textOf(message) || message).appendChild(button);
    }

    window.aureloSetVoiceTranslation = function (id, transcript, translated, failed) {
        const message = findByAttribute('data-aurelo-voice-id', id);
        if (!message) {
            return;
        }
        const button = message.querySelector('.aurelo-voice-button');
        if (button) {
            button.disabled = false;
            button.textContent = failed ? '重试语音翻译' : '重新识别';
        }
        let box = message.querySelector('.aurelo-voice-result');
        if (!box) {
            box = document.createElement('div');
            box.className = 'aurelo-voice-result';
            message.appendChild(box);
        }
        const border = failed ? '#f59e0b' : translationFontColor;
        const color = failed ? '#d97706' : translationFontColor;
        box.setAttribute('style',
            'margin:6px 2px 1px;padding:8px 10px;border-radius:9px;' +
            'background:rgba(212,175,55,.10);border-left:3px solid ' + border + ';color:' + color +
            ';font-size:' + translationFontSize + 'px;line-height:1.5;white-space:pre-wrap;');
        box.textContent = failed
            ? '⚠ ' + String(translated ?? '')
            : '语音原文：' + String(transcript ?? '') + '\n译文：' + String(translated ?? '');
    };

    // ---------------------------------------------------------------- selection translation

    function removeContextUi() {
        for (const element of document.querySelectorAll(
            '.aurelo-context-menu, .aurelo-context-result')) {
            element.remove();
        }
    }

    function onContextMenu(event) {
        const selection = window.getSelection();
        const text = (selection ? selection.toString() : '').trim();
        if (!text || !document.body) {
            return;
        }
        event.preventDefault();
        removeContextUi();

        const id = makeID();
        const anchor = document.createElement('span');
        anchor.style.display = 'none';
        anchor.dataset.aureloContextId = id;
        anchor.dataset.menuX = String(event.clientX);
        anchor.dataset.menuY = String(event.clientY);
        document.body.appendChild(anchor);

        const menu = document.createElement('div');
        menu.className = 'aurelo-context-menu';
        menu.setAttribute('style',
            'position:fixed;z-index:2147483647;left:' +
            Math.min(event.clientX, viewportWidth() - 210) + 'px;top:' +
            Math.min(event.clientY, viewportHeight() - 54) + 'px;width:190px;padding:6px;' +
            'background:rgba(255,255,255,.98);border:1px solid rgba(15,23,42,.12);' +
            'border-radius:10px;box-shadow:0 14px 36px rgba(15,23,42,.22);' +
            'font:14px -apple-system,BlinkMacSystemFont,sans-serif;');
        const entry = document.createElement('button');
        entry.textContent = '译成英文';
        entry.setAttribute('style',
            'display:block;width:100%;padding:9px 11px;border:0;border-radius:7px;' +
            'background:transparent;color:#111827;text-align:left;cursor:pointer;font:inherit;');
        entry.addEventListener('mouseenter', () => {
            entry.style.background = '#eff6ff';
        });
        entry.addEventListener('mouseleave', () => {
            entry.style.background = 'transparent';
        });
        entry.addEventListener('click', () => {
            entry.textContent = '正在翻译…';
            post({ kind: 'context', id: id, text: text, target: outgoingLanguage });
        });
        menu.appendChild(entry);
        document.body.appendChild(menu);
    }

    function onDocumentClick(event) {
        const target = elementOf(event.target);
        if (target && target.closest('.aurelo-context-menu, .aurelo-context-result')) {
            return;
        }
        removeContextUi();
    }

    function anchorCoordinate(value) {
        const parsed = parseInt(value, 10);
        return Number.isNaN(parsed) ? 20 : parsed;
    }

    window.aureloShowContextTranslation = function (id, translated, failed) {
        const menu = document.querySelector('.aurelo-context-menu');
        if (menu) {
            menu.remove();
        }
        const anchor = findByAttribute('data-aurelo-context-id', id);
        if (!anchor) {
            return;
        }
        const left = Math.min(anchorCoordinate(anchor.dataset.menuX), viewportWidth() - 440);
        const top = Math.min(anchorCoordinate(anchor.dataset.menuY), viewportHeight() - 180);
        const box = document.createElement('div');
        box.className = 'aurelo-context-result';
        box.setAttribute('style',
            'position:fixed;z-index:2147483647;max-width:420px;padding:14px 16px;' +
            'border-radius:12px;background:#fff;color:#111827;' +
            'border:1px solid rgba(15,23,42,.12);box-shadow:0 16px 40px rgba(15,23,42,.22);' +
            'font:14px/1.55 -apple-system,BlinkMacSystemFont,sans-serif;white-space:pre-wrap;' +
            'user-select:text;left:' + left + 'px;top:' + top + 'px;');

        const heading = document.createElement('div');
        heading.setAttribute('style', 'font-size:11px;font-weight:700;color:' +
            (failed ? '#d97706' : '#2563eb') + ';margin-bottom:6px');
        heading.textContent = failed ? '翻译提示' : '英文翻译';

        const close = document.createElement('button');
        close.textContent = '×';
        close.setAttribute('style',
            'position:absolute;right:8px;top:6px;border:0;background:transparent;' +
            'color:#64748b;font-size:18px;cursor:pointer;');
        close.addEventListener('click', () => box.remove());

        box.append(heading, document.createTextNode(String(translated ?? '')), close);
        document.body.appendChild(box);
    };

    // ---------------------------------------------------------------- whole-page translation

    if (!(window.__aureloPageNodes instanceof Map)) {
        window.__aureloPageNodes = new Map();
    }

    const SKIPPED_PARENTS = new Set(['SCRIPT', 'STYLE', 'NOSCRIPT', 'TEXTAREA', 'INPUT', 'CODE', 'PRE']);

    // A letter of any script but Chinese characters: a page in Russian, Arabic or Thai is as
    // foreign to the agent as one in English, and Japanese keeps its kana beside the kanji.
    function hasForeignLetter(text) {
        return /\p{L}/u.test(text.replace(/\p{Script=Han}/gu, ''));
    }

    function acceptPageText(node) {
        const parent = node.parentElement;
        if (!parent || SKIPPED_PARENTS.has(parent.tagName) || parent.closest(OWN_UI_SELECTOR)) {
            return false;
        }
        const text = (node.nodeValue || '').trim();
        if (text.length < 2 || text.length > PAGE_TEXT_MAXIMUM || !hasForeignLetter(text)) {
            return false;
        }
        const style = getComputedStyle(parent);
        if (style.display === 'none' || style.visibility === 'hidden') {
            return false;
        }
        const rect = parent.getBoundingClientRect();
        return rect.width !== 0 && rect.height !== 0;
    }

    // One notice per run when the service refused the page's texts: without it a failed
    // 整页翻译 changed nothing on screen and said nothing.
    const PAGE_NOTICE_CLASS = 'aurelo-page-notice';

    function showPageFailure(reason) {
        if (!document.body || document.querySelector('.' + PAGE_NOTICE_CLASS)) {
            return;
        }
        const notice = document.createElement('div');
        notice.className = PANEL_CLASS + ' ' + PAGE_NOTICE_CLASS;
        notice.setAttribute('role', 'alert');
        notice.style.cssText = 'position:fixed;top:8px;left:50%;transform:translateX(-50%);' +
            'z-index:2147483647;max-width:80%;padding:8px 12px;border-radius:8px;' +
            'background:#fff4e5;color:#8a5300;border:1px solid #f0b35a;font:13px/1.4 sans-serif;' +
            'display:flex;gap:10px;align-items:center';
        const text = document.createElement('span');
        text.textContent = '⚠ 整页翻译失败：' + reason;
        const retry = document.createElement('button');
        retry.type = 'button';
        retry.textContent = '重试';
        // A long reason wraps; the button keeps its word on one line.
        retry.style.cssText = 'flex:none;white-space:nowrap';
        retry.addEventListener('click', () => window.aureloTranslatePage());
        notice.append(text, retry);
        document.body.appendChild(notice);
    }

    window.aureloRestorePage = function () {
        for (const notice of document.querySelectorAll('.' + PAGE_NOTICE_CLASS)) {
            notice.remove();
        }
        for (const record of window.__aureloPageNodes.values()) {
            if (record.node.isConnected) {
                record.node.nodeValue = record.original;
            }
        }
        window.__aureloPageNodes.clear();
        pageWaiting = [];
        pageOutstanding = 0;
    };

    // The application queues at most 16 texts of a page and drops the oldest beyond that, so a
    // run hands it a few at a time, the next ones as answers come back.
    let pageWaiting = [];
    let pageOutstanding = 0;

    function postPageTexts() {
        while (pageOutstanding < PAGE_IN_FLIGHT && pageWaiting.length > 0) {
            const node = pageWaiting.shift();
            if (!node.isConnected) {
                continue;
            }
            const id = makeID();
            window.__aureloPageNodes.set(id, { node: node, original: node.nodeValue, answered: false });
            pageOutstanding += 1;
            post({ kind: 'page', id: id, text: node.nodeValue.trim(), target: incomingLanguage });
        }
    }

    window.aureloTranslatePage = function () {
        window.aureloRestorePage();
        if (!document.body) {
            return;
        }
        // What the agent is looking at first: a long page's menus and headers must not use up
        // the run before the text on screen is reached.
        const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
        const inView = [];
        const elsewhere = [];
        for (let walked = 0; walked < PAGE_WALK_LIMIT && inView.length < PAGE_NODE_LIMIT; ++walked) {
            const node = walker.nextNode();
            if (!node) {
                break;
            }
            if (acceptPageText(node)) {
                (isInView(node.parentElement) ? inView : elsewhere).push(node);
            }
        }
        pageWaiting = inView.concat(elsewhere).slice(0, PAGE_NODE_LIMIT);
        postPageTexts();
    };

    window.aureloSetPageTranslation = function (id, translated, failed) {
        const record = window.__aureloPageNodes.get(id);
        if (!record || record.answered) {
            return;
        }
        record.answered = true;
        pageOutstanding -= 1;
        if (failed) {
            // The rest would most likely be refused alike; the notice's 重试 starts over.
            pageWaiting = [];
            showPageFailure(String(translated ?? ''));
            return;
        }
        if (record.node.isConnected) {
            record.node.nodeValue = String(translated ?? '');
        }
        postPageTexts();
    };

    // ---------------------------------------------------------------- start

    document.addEventListener('contextmenu', onContextMenu, true);
    document.addEventListener('click', onDocumentClick, true);

    scanVisibleMessages();

    window.aureloSetTranslationActive = function (active) {
        translationActive = Boolean(active) && receiveTranslationEnabled;
        if (translationActive) {
            setTimeout(scanVisibleMessages, ACTIVATION_SCAN_DELAY);
        }
    };

    document.addEventListener('scroll', () => {
        if (!translationActive || scrollScanFrame) {
            return;
        }
        scrollScanFrame = requestAnimationFrame(() => {
            scrollScanFrame = 0;
            scanVisibleMessages();
        });
    }, { capture: true, passive: true });

    const observer = new MutationObserver((records) => {
        for (const record of records) {
            for (const node of record.addedNodes) {
                if (isElement(node) &&
                    (node.matches(CANDIDATE_SELECTOR) || node.querySelector(CANDIDATE_SELECTOR))) {
                    pendingNodes.add(node);
                }
            }
        }
        if (pendingNodes.size > 0 && !processTimer) {
            processTimer = setTimeout(flushPendingNodes, FLUSH_DELAY);
        }
    });
    observer.observe(document.body || document.documentElement, { childList: true, subtree: true });
})();
