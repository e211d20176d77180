[0];
  // The page script, in this same script world, owns the composer: it knows how to put text
  // into each kind of editor so that the editor's model takes it, checks that it did, and waits
  // for an open input-method composition to be committed.
  if (typeof window.aureloInsertText === "function") {
    window.aureloInsertText(text);
    return true;
  }
  // A page the page script is not in: the browser's own editing, which a plain editable or
  // text field takes as typing.
  const editables = document.querySelectorAll('[contenteditable="true"]');
  let target = editables.length ? editables[editables.length - 1] : null;
  if (!target) {
    const fields = document.querySelectorAll('textarea, input[type="text"]');
    target = fields.length ? fields[fields.length - 1] : null;
  }
  if (!target) {
    return false;
  }
  target.focus();
  if (target.isContentEditable) {
    const range = document.createRange();
    range.selectNodeContents(target);
    const selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    document.execCommand("delete", false, null);
    target.focus();
    document.execCommand("insertText", false, text);
  } else {
    const prototype = Object.getPrototypeOf(target);
    const descriptor = Object.getOwnPropertyDescriptor(prototype, "value");
    const setValue = descriptor && descriptor.set
      ? (value) => descriptor.set.call(target, value)
      : (value) => { target.value = value; };
    setValue("");
    target.dispatchEvent(new InputEvent("input", {
      bubbles: true, inputType: "deleteContentBackward", data: null
    }));
    setValue(text);
    target.dispatchEvent(new Event("input", { bubbles: true }));
  }
  return true;
})();
